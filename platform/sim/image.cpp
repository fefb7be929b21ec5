// The machine image framework: sections and lines, the [version], [failures]
// and [result] sections, and reading and writing image files.
#include "platform/sim/image.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <set>
#include <sstream>

namespace sim {
namespace image {

void Refuse(unsigned line, std::string message) { throw ImageError{std::string(), line, std::move(message)}; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::pair<std::string, std::string> NameValue(const Line& line) {
  const std::size_t equals = line.text.find('=');
  if (equals == std::string::npos) Refuse(line.number, "expected 'name = value'");
  std::string name(Trim(std::string_view(line.text).substr(0, equals)));
  std::string value(Trim(std::string_view(line.text).substr(equals + 1)));
  if (name.empty()) Refuse(line.number, "missing name before '='");
  return {name, value};
}

DWORD Number(const Line& line, std::string_view text) {
  text = Trim(text);
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > (base == 16 ? 8u : 10u)) Refuse(line.number, "not a 32-bit number");
  std::uint64_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      Refuse(line.number, "not a number: '" + std::string(text) + "'");
    }
    value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
  }
  if (value > 0xFFFFFFFFu) Refuse(line.number, "number out of range");
  return static_cast<DWORD>(value);
}

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    if (i > start) words.emplace_back(text.substr(start, i - start));
  }
  return words;
}

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

// ---------------------------------------------------------------- [version]

namespace {

DWORD Bounded(const Line& line, const std::string& value, DWORD maximum) {
  const DWORD number = Number(line, value);
  if (number > maximum) Refuse(line.number, "value does not fit its field");
  return number;
}

}  // namespace

void LoadVersion(Machine& machine, const Section& section) {
  OSVERSIONINFOEXW& info = machine.version.info;
  for (const Line& line : section.lines) {
    auto [name, value] = NameValue(line);
    if (name == "platform-id") {
      info.dwPlatformId = Number(line, value);
    } else if (name == "major") {
      info.dwMajorVersion = Number(line, value);
    } else if (name == "minor") {
      info.dwMinorVersion = Number(line, value);
    } else if (name == "build") {
      info.dwBuildNumber = Number(line, value);
    } else if (name == "csd-version") {
      std::wstring text = Widen(value);
      if (text.size() > 127) Refuse(line.number, "csd-version is longer than 127 characters");
      std::wmemset(info.szCSDVersion, 0, 128);
      std::wmemcpy(info.szCSDVersion, text.c_str(), text.size());
    } else if (name == "service-pack-major") {
      info.wServicePackMajor = static_cast<WORD>(Bounded(line, value, 0xFFFF));
    } else if (name == "service-pack-minor") {
      info.wServicePackMinor = static_cast<WORD>(Bounded(line, value, 0xFFFF));
    } else if (name == "suite-mask") {
      info.wSuiteMask = static_cast<WORD>(Bounded(line, value, 0xFFFF));
    } else if (name == "product-type") {
      info.wProductType = static_cast<BYTE>(Bounded(line, value, 0xFF));
    } else {
      Refuse(line.number, "unknown version field '" + name + "'");
    }
  }
}

void StoreVersion(const Machine& machine, std::string& out) {
  const OSVERSIONINFOEXW& info = machine.version.info;
  char text[64];
  out += "[version]\n";
  out += "platform-id = " + std::to_string(info.dwPlatformId) + "\n";
  out += "major = " + std::to_string(info.dwMajorVersion) + "\n";
  out += "minor = " + std::to_string(info.dwMinorVersion) + "\n";
  out += "build = " + std::to_string(info.dwBuildNumber) + "\n";
  out += "csd-version = " + Narrow(info.szCSDVersion) + "\n";
  out += "service-pack-major = " + std::to_string(info.wServicePackMajor) + "\n";
  out += "service-pack-minor = " + std::to_string(info.wServicePackMinor) + "\n";
  std::snprintf(text, sizeof text, "suite-mask = 0x%04X\n", static_cast<unsigned>(info.wSuiteMask));
  out += text;
  out += "product-type = " + std::to_string(info.wProductType) + "\n";
}

// ---------------------------------------------------------------- [failures]

void LoadFailures(Machine& machine, const Section& section) {
  for (const Line& line : section.lines) {
    auto [name, value] = NameValue(line);
    if (name != "fail") Refuse(line.number, "unknown failures entry '" + name + "'");
    FailureRule rule;
    std::string_view rest = value;
    bool haveStatus = false;
    // OPERATION, then key=value words; path= takes the rest of the line.
    const std::size_t blank = rest.find_first_of(" \t");
    rule.operation = std::string(rest.substr(0, blank));
    rest = blank == std::string_view::npos ? std::string_view() : Trim(rest.substr(blank));
    if (rule.operation.empty() || rule.operation.find('=') != std::string::npos) {
      Refuse(line.number, "a failure rule starts with the operation's name");
    }
    while (!rest.empty()) {
      const std::size_t equals = rest.find('=');
      if (equals == std::string_view::npos) Refuse(line.number, "expected key=value in failure rule");
      const std::string key(rest.substr(0, equals));
      rest.remove_prefix(equals + 1);
      if (key == "path") {
        rule.path = Widen(Trim(rest));
        if (rule.path->empty()) Refuse(line.number, "empty path in failure rule");
        break;
      }
      const std::size_t end = rest.find_first_of(" \t");
      const std::string word(rest.substr(0, end));
      rest = end == std::string_view::npos ? std::string_view() : Trim(rest.substr(end));
      if (key == "status") {
        rule.status = Number(line, word);
        haveStatus = true;
      } else if (key == "nth") {
        rule.nth = Number(line, word);
      } else if (key == "mask") {
        rule.mask = Number(line, word);
      } else {
        Refuse(line.number, "unknown failure rule key '" + key + "'");
      }
    }
    if (!haveStatus) Refuse(line.number, "a failure rule needs status=");
    machine.failures.push_back(std::move(rule));
  }
}

void StoreFailures(const Machine& machine, std::string& out) {
  if (machine.failures.empty()) return;
  out += "\n[failures]\n";
  for (const FailureRule& rule : machine.failures) {
    out += "fail = " + rule.operation + " status=" + std::to_string(rule.status);
    if (rule.nth != 0) out += " nth=" + std::to_string(rule.nth);
    if (rule.mask) out += " mask=" + Hex(*rule.mask);
    if (rule.path) out += " path=" + Narrow(*rule.path);
    out += "\n";
  }
}

}  // namespace image

// ---------------------------------------------------------------- text encoding

std::wstring Widen(std::string_view utf8) {
  std::wstring wide;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    std::uint32_t code;
    std::size_t extra;
    if (lead < 0x80) {
      code = lead;
      extra = 0;
    } else if ((lead & 0xE0) == 0xC0) {
      code = lead & 0x1F;
      extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
      code = lead & 0x0F;
      extra = 2;
    } else if ((lead & 0xF8) == 0xF0) {
      code = lead & 0x07;
      extra = 3;
    } else {
      throw ImageError{std::string(), 0, "text is not UTF-8"};
    }
    for (std::size_t k = 1; k <= extra; ++k) {
      if (i + k >= utf8.size()) throw ImageError{std::string(), 0, "text is not UTF-8"};
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) throw ImageError{std::string(), 0, "text is not UTF-8"};
      code = (code << 6) | (next & 0x3F);
    }
    wide += static_cast<wchar_t>(code);
    i += extra + 1;
  }
  return wide;
}

std::string Narrow(std::wstring_view wide) {
  std::string utf8;
  for (wchar_t c : wide) {
    const auto code = static_cast<std::uint32_t>(c);
    if (code < 0x80) {
      utf8 += static_cast<char>(code);
    } else if (code < 0x800) {
      utf8 += static_cast<char>(0xC0 | (code >> 6));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      utf8 += static_cast<char>(0xE0 | (code >> 12));
      utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      utf8 += static_cast<char>(0xF0 | (code >> 18));
      utf8 += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return utf8;
}

// ---------------------------------------------------------------- whole images

std::string ImageError::What() const { return file + ":" + std::to_string(line) + ": " + message; }

Machine ParseImage(std::string_view text, const std::string& file) {
  std::vector<image::Section> sections;
  unsigned number = 0;
  try {
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      std::string_view raw = text.substr(start, end - start);
      start = end + 1;
      ++number;
      if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
      Widen(raw);  // refuses text that is not UTF-8 on the line it is on
      std::string_view trimmed = image::Trim(raw);
      if (trimmed.empty() || trimmed.front() == '#') {
        if (end == text.size()) break;
        continue;
      }
      if (trimmed.front() == '[') {
        if (trimmed.back() != ']' || trimmed.size() < 3) image::Refuse(number, "malformed section header");
        std::string name(trimmed.substr(1, trimmed.size() - 2));
        for (const image::Section& seen : sections) {
          if (seen.name == name) image::Refuse(number, "section [" + name + "] appears twice");
        }
        sections.push_back(image::Section{name, number, {}});
      } else {
        if (sections.empty()) image::Refuse(number, "line outside any section");
        sections.back().lines.push_back(image::Line{number, std::string(trimmed)});
      }
      if (end == text.size()) break;
    }

    // A [token] section replaces the default machine's process token.
    Machine machine = DefaultMachine();
    for (const image::Section& section : sections) {
      if (section.name == "version") {
        image::LoadVersion(machine, section);
      } else if (section.name == "token") {
        image::LoadToken(machine, section, false);
      } else if (section.name == "thread-token") {
        image::LoadToken(machine, section, true);
      } else if (section.name == "registry") {
        image::LoadRegistry(machine, section);
      } else if (section.name == "events") {
        image::LoadRegistryEvents(machine, section);
      } else if (section.name == "failures") {
        image::LoadFailures(machine, section);
      } else if (section.name == "result") {
        // Written by the previous run; the next one replaces it.
      } else {
        image::Refuse(section.number, "unknown section [" + section.name + "]");
      }
    }
    return machine;
  } catch (ImageError& error) {
    error.file = file;
    if (error.line == 0) error.line = number;
    throw;
  }
}

std::string FormatImage(const Machine& machine) {
  std::string out = "# tessaroot machine image\n";
  image::StoreVersion(machine, out);
  image::StoreTokens(machine, out);
  image::StoreRegistry(machine, out);
  image::StoreRegistryEvents(machine, out);
  image::StoreFailures(machine, out);
  if (machine.exitStatus) {
    out += "\n[result]\n";
    out += "exit-status = " + image::Hex(*machine.exitStatus) + "\n";
    out += "open-handles = " +
           std::to_string(machine.tokens.OpenHandles() + machine.registry.OpenHandles()) + "\n";
    out += "local-blocks = " + std::to_string(machine.localBlocks) + "\n";
  }
  return out;
}

Machine LoadImage(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ImageError{path, 0, "cannot read the machine image"};
  std::ostringstream text;
  text << in.rdbuf();
  return ParseImage(text.str(), path);
}

void StoreImage(const Machine& machine, const std::string& path) {
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    const std::string text = FormatImage(machine);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) throw ImageError{path, 0, "cannot write the machine image"};
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    throw ImageError{path, 0, "cannot replace the machine image"};
  }
}

}  // namespace sim
