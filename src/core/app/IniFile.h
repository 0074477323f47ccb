// INI text files: "[Section]" lines and "key=value" lines. Section and key
// names match without regard to ASCII case; the first matching section and the
// first matching key in it win. Writing changes only the line of the key it
// writes (or adds one line, or a section header and one line), so comments,
// blank lines, keys and sections this program does not know, and the file's
// line endings survive a save.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelko {

class IniFile {
public:
    IniFile() = default;

    // Parses INI text. Never fails: lines that are neither a section header nor
    // a key line are kept as they are and otherwise ignored.
    static IniFile Parse(std::string_view text);

    // Reads a file. False when it cannot be read (missing, a directory, no
    // permission); the document is then empty.
    bool Load(const std::filesystem::path& path);

    // Writes the document to a temporary file beside `path` and renames it over
    // `path`, so a failed write leaves the old file as it was. A symbolic link
    // at `path` is followed. The directory must exist. False on any failure.
    bool Save(const std::filesystem::path& path) const;

    // The document as text, byte for byte as it would be saved.
    std::string Text() const;

    // The value of a key, surrounding white space removed; nullopt when the
    // section or the key is missing.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;

    // The value, or `defaultValue` when missing. `maxLength` > 0 keeps at most
    // that many bytes of the value; 0 or less keeps it whole.
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue, int maxLength = 0) const;

    // The leading decimal integer of the value (optional sign, then digits;
    // "12abc" is 12), clamped to the int range; `defaultValue` when the key is
    // missing or its value does not start with a number.
    int ReadInt(std::string_view section, std::string_view key, int defaultValue) const;

    // Sets a key: an existing key's value is replaced on its own line; a new key
    // goes after the last entry of its section; a missing section is added at
    // the end. False, with nothing changed, when a name is empty or a name or
    // the value holds a character that would break the line structure (line
    // breaks; '=' in a key; ']' in a section name).
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);

    bool UsesCrLf() const { return crlf_; }

    // ASCII case-insensitive equality, as used for section and key names.
    static bool NamesEqual(std::string_view a, std::string_view b);

private:
    enum class Kind { Other, Section, Key };
    // One line of the file, parsed once when it is read or changed.
    struct Line {
        std::string text;  // without its line ending
        std::string eol;   // "\n", "\r\n" or "" (last line without one)
        Kind kind = Kind::Other;
        size_t nameStart = 0, nameLength = 0;    // section or key name, trimmed
        size_t valueStart = 0, valueLength = 0;  // key value, trimmed
        std::string_view Name() const { return std::string_view(text).substr(nameStart, nameLength); }
        std::string_view Value() const
        {
            return std::string_view(text).substr(valueStart, valueLength);
        }
    };
    static Line MakeLine(std::string text, std::string eol);
    // Line index of the section header, or -1.
    long FindSection(std::string_view section) const;
    // Line index of the key within the section starting at `header`, or -1.
    long FindKey(long header, std::string_view key) const;
    std::string NewEol() const { return crlf_ ? "\r\n" : "\n"; }

    std::vector<Line> lines_;
    bool crlf_ = false;
    bool bom_ = false;
};

// The leading decimal integer of a text (optional sign, then digits; "12abc" is
// 12), clamped to the int range; nullopt when it does not start with a number.
std::optional<int> ParseLeadingInt(std::string_view text);

// One-shot helpers on a named file, each reading the whole file.
std::string IniReadString(const std::filesystem::path& path, std::string_view section,
                          std::string_view key, std::string_view defaultValue,
                          int maxLength = 0);
int IniReadInt(const std::filesystem::path& path, std::string_view section, std::string_view key,
               int defaultValue);
// Reads the file (a missing file counts as empty), sets the key and saves.
bool IniWriteString(const std::filesystem::path& path, std::string_view section,
                    std::string_view key, std::string_view value);

}  // namespace zelko
