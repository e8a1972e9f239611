#pragma once
// For tests only: makes the primitives created from now on come out without a handle,
// as when the system refuses to create one, until it is switched off again.

namespace zv::link {
void FailSignalCreation(bool fail);
}  // namespace zv::link
