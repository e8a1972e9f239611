#pragma once
// The pure parts of a script line: the reply check of a "!" line and the judgement of
// a text command's reply. Both raise zv::Error with the line's failure and return
// normally when the line succeeds.
#include <string>
#include <string_view>

namespace zv {

// A "!" line against the last reply. `check` is the text after the "!", already cut to
// its 200 characters: "expected" or "expected!own message". An empty expected text is
// never found; a second "!" makes the line fail with its own text instead of
// "Nesprávná odpověď: " and the reply.
void CheckReply(const std::string& check, const std::string& response);

// The reply to `command` (as sent: no "~", carriage return at its end): empty, negative
// ("!" or "?" anywhere), or an end record of 12 or more characters answered without "*".
void JudgeReply(std::string_view command, const std::string& response);

}  // namespace zv
