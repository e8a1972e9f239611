// Script files: read whole, split into lines, each line run in turn; a failure inside a
// file is recorded with the file's name and the line's index and ends that file only.
#include "engine/ScriptFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

#include "common/Cp1250.h"
#include "common/Error.h"
#include "common/Messages.h"
#include "engine/Prikazy.h"

namespace zv {

std::vector<std::string> SplitScriptLines(std::string_view text) {
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);

    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
    }
    return lines;
}

std::string ScriptNameToPath(const std::string& cp1250Name) { return Cp1250ToUtf8(cp1250Name); }

}  // namespace zv

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : FFd(fd) {}
    ~FileDescriptor() {
        if (FFd >= 0) ::close(FFd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return FFd; }

private:
    int FFd;
};

// The whole file as bytes; closed again before anything of it runs.
std::string ReadWholeFile(const std::string& name) {
    const std::string path = zv::ScriptNameToPath(name);
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) throw zv::Error(zv::msg::CannotOpenFile(name));

    std::string content;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(file.Get(), buffer, sizeof buffer);
        if (n > 0) {
            content.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            throw zv::Error(zv::msg::CannotOpenFile(name));  // a directory, say
        }
    }
    return content;
}

}  // namespace

void TPrikaz::ExecuteFile(const std::string& name) { RunFile(name, FFileDepth + 1); }

void TPrikaz::RunFile(const std::string& name, int depth) {
    struct DepthGuard {
        int& depth;
        int saved;
        ~DepthGuard() { depth = saved; }
    } guard{FFileDepth, FFileDepth};
    FFileDepth = depth;

    std::size_t index = 0;
    try {
        const std::vector<std::string> lines = zv::SplitScriptLines(ReadWholeFile(name));
        FLinesTotal += static_cast<std::int32_t>(lines.size());
        for (; index < lines.size(); ++index) {
            if (FStop) throw zv::Error(zv::msg::Zastaven);
            ExecuteLine(lines[index]);
            ++FLinesDone;
        }
    } catch (const std::exception& e) {
        FError = zv::msg::SouborPrefix + name + zv::msg::RadekPrefix + std::to_string(index) +
                 zv::msg::IndexSeparator + e.what() + " " + FError;
    }
}
