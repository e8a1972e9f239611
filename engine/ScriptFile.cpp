// Script files: read whole, split into lines, each line run in turn; a failure inside a
// file is recorded with the file's name and the line's index and ends that file only.
#include "engine/ScriptFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

#include "common/Cp1250.h"
#include "common/Error.h"
#include "common/Messages.h"
#include "engine/Prikazy.h"

namespace zv {

namespace {

// The lines as views into the text: a big download file is held once, as its bytes,
// and not a second time as a list of strings.
std::vector<std::string_view> SplitScriptLineViews(std::string_view text) {
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);

    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
    }
    return lines;
}

}  // namespace

std::vector<std::string> SplitScriptLines(std::string_view text) {
    const std::vector<std::string_view> views = SplitScriptLineViews(text);
    return std::vector<std::string>(views.begin(), views.end());
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
    // Only a regular file is a script. O_NONBLOCK keeps a FIFO without a writer from
    // holding the worker in open() for ever, where no stop reaches it; a device such
    // as /dev/zero would never end.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat kind {};
    if (file.Get() < 0 || ::fstat(file.Get(), &kind) != 0 || !S_ISREG(kind.st_mode))
        throw zv::Error(zv::msg::CannotOpenFile(name));

    // Read into a buffer of the file's size, so that a big file is not copied while it
    // grows; a file that grows meanwhile is read on to its end.
    std::string content;
    struct stat st {};
    if (::fstat(file.Get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        content.resize(static_cast<std::size_t>(st.st_size));
    std::size_t used = 0;
    char more[8192];
    for (;;) {
        // Past the expected size, into a buffer of its own: the end of the file is seen
        // there without growing (and copying) the full buffer.
        const bool full = used == content.size();
        const ssize_t n = full ? ::read(file.Get(), more, sizeof more)
                               : ::read(file.Get(), content.data() + used, content.size() - used);
        if (n > 0) {
            if (full) content.append(more, static_cast<std::size_t>(n));
            used += static_cast<std::size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            throw zv::Error(zv::msg::CannotOpenFile(name));  // a directory, say
        }
    }
    content.resize(used);
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
        const std::string text = ReadWholeFile(name);
        const std::vector<std::string_view> lines = zv::SplitScriptLineViews(text);
        FLinesTotal += static_cast<std::int32_t>(lines.size());
        std::string line;
        for (; index < lines.size(); ++index) {
            if (FStop) throw zv::Error(zv::msg::Zastaven);
            line.assign(lines[index]);
            ExecuteLine(line);
            ++FLinesDone;
        }
    } catch (const std::exception& e) {
        FError = zv::msg::SouborPrefix + name + zv::msg::RadekPrefix + std::to_string(index) +
                 zv::msg::IndexSeparator + e.what() + " " + FError;
    }
}
