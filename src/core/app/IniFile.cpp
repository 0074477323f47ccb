#include "core/app/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <system_error>

namespace zelko {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
// Settings and project files are a few kilobytes; anything this large is not one.
constexpr off_t kMaxFileSize = 16 << 20;

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool HasLineBreak(std::string_view s)
{
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// Writes the whole buffer, retrying short writes and interruptions.
bool WriteAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool IniFile::NamesEqual(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

IniFile IniFile::Parse(std::string_view text)
{
    IniFile ini;
    if (text.starts_with(kBom)) {
        ini.bom_ = true;
        text.remove_prefix(kBom.size());
    }
    bool eolSeen = false;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        Line line;
        if (nl == std::string_view::npos) {
            line.text = std::string(text);
            text = {};
        } else {
            std::string_view body = text.substr(0, nl);
            if (!body.empty() && body.back() == '\r') {
                body.remove_suffix(1);
                line.eol = "\r\n";
            } else {
                line.eol = "\n";
            }
            line.text = std::string(body);
            text.remove_prefix(nl + 1);
            if (!eolSeen) {
                ini.crlf_ = line.eol == "\r\n";
                eolSeen = true;
            }
        }
        ini.lines_.push_back(MakeLine(std::move(line.text), std::move(line.eol)));
    }
    return ini;
}

bool IniFile::Load(const std::filesystem::path& path)
{
    *this = IniFile();
    // Non-blocking, so a FIFO named as a project cannot hang the program; only
    // regular files of a sane size are read (not /dev/zero, not a directory).
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileSize) {
        ::close(fd);
        return false;
    }
    std::string data;
    char chunk[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || data.size() + static_cast<size_t>(n) > static_cast<size_t>(kMaxFileSize)) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        data.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    if (!ok)
        return false;
    *this = Parse(data);
    return true;
}

std::string IniFile::Text() const
{
    std::string out;
    if (bom_)
        out += kBom;
    for (const Line& l : lines_) {
        out += l.text;
        out += l.eol;
    }
    return out;
}

bool IniFile::Save(const std::filesystem::path& path) const
{
    std::error_code ec;
    std::filesystem::path target = path;
    if (std::filesystem::is_symlink(path, ec)) {
        const std::filesystem::path resolved = std::filesystem::canonical(path, ec);
        if (!ec)
            target = resolved;
    }
    std::filesystem::path dir = target.parent_path();
    if (dir.empty())
        dir = ".";

    mode_t mode = 0644;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return false;
        mode = st.st_mode & 07777;
    }

    std::string hidden(1, '.');
    hidden.append(target.filename().string()).append(".XXXXXX");
    std::string tmpl = (dir / hidden).string();
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, Text());
    ok = ok && ::fchmod(fd, mode) == 0;
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(tmpl.c_str(), target.c_str()) == 0;
    if (!ok)
        ::unlink(tmpl.c_str());
    return ok;
}

IniFile::Line IniFile::MakeLine(std::string text, std::string eol)
{
    Line l;
    l.text = std::move(text);
    l.eol = std::move(eol);
    const std::string_view line = l.text;
    const auto offset = [&](std::string_view part) {
        return static_cast<size_t>(part.data() - line.data());
    };
    const std::string_view t = Trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '#')
        return l;
    if (t.front() == '[') {
        const size_t close = t.find(']');
        if (close == std::string_view::npos)
            return l;
        const std::string_view name = Trim(t.substr(1, close - 1));
        l.kind = Kind::Section;
        l.nameStart = offset(name);
        l.nameLength = name.size();
        return l;
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return l;
    const std::string_view name = Trim(line.substr(0, eq));
    if (name.empty())
        return l;
    l.kind = Kind::Key;
    l.nameStart = offset(name);
    l.nameLength = name.size();
    size_t start = eq + 1;
    while (start < line.size() && IsSpace(line[start]))
        ++start;
    l.valueStart = start;
    l.valueLength = Trim(line.substr(start)).size();
    return l;
}

long IniFile::FindSection(std::string_view section) const
{
    for (size_t i = 0; i < lines_.size(); ++i) {
        const Line& l = lines_[i];
        if (l.kind == Kind::Section && NamesEqual(l.Name(), section))
            return static_cast<long>(i);
    }
    return -1;
}

long IniFile::FindKey(long header, std::string_view key) const
{
    for (size_t i = static_cast<size_t>(header) + 1; i < lines_.size(); ++i) {
        const Line& l = lines_[i];
        if (l.kind == Kind::Section)
            break;
        if (l.kind == Kind::Key && NamesEqual(l.Name(), key))
            return static_cast<long>(i);
    }
    return -1;
}

std::optional<std::string> IniFile::Find(std::string_view section, std::string_view key) const
{
    // Names are compared as they stand in the file: without surrounding blanks.
    section = Trim(section);
    key = Trim(key);
    const long header = FindSection(section);
    if (header < 0)
        return std::nullopt;
    const long at = FindKey(header, key);
    if (at < 0)
        return std::nullopt;
    return std::string(lines_[static_cast<size_t>(at)].Value());
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view defaultValue, int maxLength) const
{
    std::optional<std::string> v = Find(section, key);
    std::string out = v ? std::move(*v) : std::string(defaultValue);
    if (maxLength > 0 && out.size() > static_cast<size_t>(maxLength))
        out.resize(static_cast<size_t>(maxLength));
    return out;
}

std::optional<int> ParseLeadingInt(std::string_view s)
{
    s = Trim(s);
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty() || s.front() < '0' || s.front() > '9')
        return std::nullopt;
    long long n = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            break;
        if (n <= static_cast<long long>(INT_MAX) + 1)  // stop growing once out of range
            n = n * 10 + (c - '0');
    }
    if (negative)
        n = -n;
    if (n > INT_MAX)
        return INT_MAX;
    if (n < INT_MIN)
        return INT_MIN;
    return static_cast<int>(n);
}

int IniFile::ReadInt(std::string_view section, std::string_view key, int defaultValue) const
{
    const std::optional<std::string> v = Find(section, key);
    if (!v)
        return defaultValue;
    return ParseLeadingInt(*v).value_or(defaultValue);
}

bool IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    section = Trim(section);
    key = Trim(key);
    if (section.empty() || key.empty() || HasLineBreak(section) || HasLineBreak(key) ||
        HasLineBreak(value) || section.find(']') != std::string_view::npos ||
        key.find('=') != std::string_view::npos || key.front() == '[' || key.front() == ';' ||
        key.front() == '#')
        return false;

    const long header = FindSection(section);
    if (header >= 0) {
        const long at = FindKey(header, key);
        if (at >= 0) {
            Line& line = lines_[static_cast<size_t>(at)];
            line = MakeLine(line.text.substr(0, line.valueStart) + std::string(value),
                            std::move(line.eol));
            return true;
        }
        // After the section's last entry, so trailing blank lines and comments
        // that belong to the next section stay where they are.
        size_t insertAfter = static_cast<size_t>(header);
        for (size_t i = insertAfter + 1; i < lines_.size(); ++i) {
            if (lines_[i].kind == Kind::Section)
                break;
            if (lines_[i].kind == Kind::Key)
                insertAfter = i;
        }
        if (lines_[insertAfter].eol.empty())
            lines_[insertAfter].eol = NewEol();
        lines_.insert(lines_.begin() + static_cast<long>(insertAfter) + 1,
                      MakeLine(std::string(key) + "=" + std::string(value), NewEol()));
        return true;
    }

    if (!lines_.empty()) {
        if (lines_.back().eol.empty())
            lines_.back().eol = NewEol();
        if (!Trim(lines_.back().text).empty())
            lines_.push_back(MakeLine("", NewEol()));
    }
    std::string sectionLine;
    sectionLine.reserve(section.size() + 2);
    sectionLine.append(1, '[').append(section).append(1, ']');
    lines_.push_back(MakeLine(sectionLine, NewEol()));
    lines_.push_back(MakeLine(std::string(key) + "=" + std::string(value), NewEol()));
    return true;
}

std::string IniReadString(const std::filesystem::path& path, std::string_view section,
                          std::string_view key, std::string_view defaultValue, int maxLength)
{
    IniFile ini;
    ini.Load(path);
    return ini.ReadString(section, key, defaultValue, maxLength);
}

int IniReadInt(const std::filesystem::path& path, std::string_view section, std::string_view key,
               int defaultValue)
{
    IniFile ini;
    ini.Load(path);
    return ini.ReadInt(section, key, defaultValue);
}

bool IniWriteString(const std::filesystem::path& path, std::string_view section,
                    std::string_view key, std::string_view value)
{
    IniFile ini;
    if (!ini.Load(path)) {
        std::error_code ec;
        if (std::filesystem::exists(path, ec) || ec)
            return false;  // there but unreadable: never replace what we cannot keep
    }
    if (!ini.WriteString(section, key, value))
        return false;
    return ini.Save(path);
}

}  // namespace zelko
