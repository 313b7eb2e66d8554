#include "hydrix/config/config_file.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <pugixml.hpp>
#include <unordered_map>
#include <utility>

#include "common/numbers.h"
#include "hydrix/config/xml_encoding.h"

namespace hx {
namespace {

// A file stamp younger than this (against the time its content was last
// read) is not trusted on its own: a file system with coarse timestamps can
// give an edit made in the same tick the very same stamp, so the content is
// compared instead. Two seconds covers the coarsest common clocks.
constexpr std::int64_t kStampTrustNs = 2'000'000'000;
// After a failed save, further saves of the same file wait this long (or
// until the file changes) rather than failing again at every lookup.
constexpr std::int64_t kSaveRetryNs = 10'000'000'000;
// How long a save waits for another program that is saving the same file.
constexpr std::chrono::milliseconds kLockWait{5000};
// Elements nested deeper than this make the file malformed: the catalogue
// needs five levels, and the tree is walked recursively.
constexpr int kMaxDepth = 100;

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view TrimXmlSpace(std::string_view s) {
  while (!s.empty() && IsXmlSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsXmlSpace(s.back())) s.remove_suffix(1);
  return s;
}

char32_t FoldCodePoint(char32_t cp) {
  if (cp >= 'A' && cp <= 'Z') return cp + 0x20;
  if (cp < 0xC0) return cp;
  if (cp <= 0xDE) return cp == 0xD7 ? cp : cp + 0x20;  // Latin-1 letters
  if (cp >= 0x100 && cp <= 0x137) return cp | 1;       // Latin Extended-A pairs
  if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) return (cp & 1) ? cp + 1 : cp;
  if (cp >= 0x14A && cp <= 0x177) return cp | 1;
  if (cp == 0x178) return 0xFF;
  if (cp >= 0x391 && cp <= 0x3A9 && cp != 0x3A2) return cp + 0x20;  // Greek
  if (cp >= 0x410 && cp <= 0x42F) return cp + 0x20;                 // Cyrillic
  if (cp >= 0x400 && cp <= 0x40F) return cp + 0x50;
  return cp;
}

// Lower-cases letters for comparisons without regard to case. Bytes that are
// not valid UTF-8 are kept as they are.
std::string FoldCase(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 0x20 : c);
      ++i;
      continue;
    }
    std::size_t start = i;
    char32_t cp = NextCodePoint(s, i);
    if (i - start == 1) {
      out += s[start];
    } else {
      AppendUtf8(out, FoldCodePoint(cp));
    }
  }
  return out;
}

bool AsciiNameIs(const char* name, std::string_view want) {
  std::size_t n = std::strlen(name);
  if (n != want.size()) return false;
  for (std::size_t k = 0; k < n; ++k) {
    char a = name[k], b = want[k];
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 0x20);
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 0x20);
    if (a != b) return false;
  }
  return true;
}

// How deep elements nest under `doc`, counted without recursion and given
// up beyond `limit`.
int NestingDepth(const pugi::xml_document& doc, int limit) {
  int depth = 0, deepest = 0;
  pugi::xml_node n = doc.first_child();
  while (n) {
    if (n.first_child()) {
      n = n.first_child();
      deepest = std::max(deepest, ++depth);
      if (deepest > limit) return deepest;
      continue;
    }
    while (n && !n.next_sibling()) {
      n = n.parent();
      --depth;
      if (n == doc) return deepest;
    }
    if (n) n = n.next_sibling();
  }
  return deepest;
}

// The first character of UTF-8 text that an XML 1.0 document cannot hold
// (control characters other than tab and line ends, U+FFFE, U+FFFF, bytes
// that are not UTF-8), named: "U+001B", or "the byte 0xFF, which is not
// UTF-8" (a byte is no character); nothing when every character is allowed.
std::optional<std::string> CharacterXmlRefuses(std::string_view s) {
  static const char* kHex = "0123456789ABCDEF";
  for (std::size_t i = 0; i < s.size();) {
    std::size_t start = i;
    char32_t cp = NextCodePoint(s, i);
    if (cp >= 0x80 && i - start == 1)
      return std::string("the byte 0x") + kHex[cp >> 4] + kHex[cp & 0xF] + ", which is not UTF-8";
    if ((cp < 0x20 && cp != 0x9 && cp != 0xA && cp != 0xD) || cp == 0xFFFE || cp == 0xFFFF) {
      std::string name = "U+";
      for (int shift = 12; shift >= 0; shift -= 4) name += kHex[(cp >> shift) & 0xF];
      return name;
    }
  }
  return std::nullopt;
}

bool IsContent(pugi::xml_node n) {
  auto t = n.type();
  return t == pugi::node_element || t == pugi::node_pcdata || t == pugi::node_cdata;
}

// The child nodes of an entry that count by position: elements and texts.
pugi::xml_node ContentChild(pugi::xml_node parent, int position) {
  for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling()) {
    if (IsContent(c) && position-- == 0) return c;
  }
  return {};
}

void AppendText(pugi::xml_node n, std::string& out) {
  if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) {
    out += n.value();
    return;
  }
  for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) AppendText(c, out);
}

// The text content of a node without the white space around it.
std::string TextOf(pugi::xml_node n) {
  std::string all;
  AppendText(n, all);
  return std::string(TrimXmlSpace(all));
}

void SetText(pugi::xml_node n, const std::string& value) {
  if (n.type() != pugi::node_element) {
    n.set_value(value.c_str());
    return;
  }
  while (n.first_child()) n.remove_child(n.first_child());
  if (!value.empty()) n.append_child(pugi::node_pcdata).set_value(value.c_str());
}

std::string EscapeText(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Where one element lies in the document text. The text is known to be
// well-formed (the parser accepted it), so a plain scan over tags, comments,
// CDATA sections and quoted attribute values finds its end.
struct Extent {
  bool ok = false;
  bool selfClosing = false;
  std::size_t contentBegin = 0;  // just after the start tag
  std::size_t contentEnd = 0;    // at the end tag
  std::size_t end = 0;           // just after the element
};

Extent ScanElement(std::string_view t, std::size_t lt) {
  Extent e;
  if (lt >= t.size() || t[lt] != '<') return e;
  int depth = 0;
  std::size_t i = lt;
  auto skipTo = [&](std::size_t from, std::string_view close) {
    std::size_t c = t.find(close, from);
    return c == std::string_view::npos ? t.size() : c + close.size();
  };
  while (i < t.size()) {
    if (t[i] != '<') {
      i = std::min(t.find('<', i), t.size());
      continue;
    }
    std::string_view rest = t.substr(i);
    if (rest.starts_with("<!--")) {
      i = skipTo(i + 4, "-->");
    } else if (rest.starts_with("<![CDATA[")) {
      i = skipTo(i + 9, "]]>");
    } else if (rest.starts_with("<?")) {
      i = skipTo(i + 2, "?>");
    } else if (rest.starts_with("<!")) {
      i = skipTo(i + 2, ">");
    } else if (rest.starts_with("</")) {
      std::size_t after = skipTo(i + 2, ">");
      if (--depth == 0) {
        e.contentEnd = i;
        e.end = after;
        e.ok = after <= t.size();
        return e;
      }
      i = after;
    } else {
      std::size_t k = i + 1;
      char quote = 0;
      for (; k < t.size(); ++k) {
        char ch = t[k];
        if (quote) {
          if (ch == quote) quote = 0;
        } else if (ch == '"' || ch == '\'') {
          quote = ch;
        } else if (ch == '>') {
          break;
        }
      }
      if (k >= t.size()) return e;
      bool self = t[k - 1] == '/';
      if (i == lt) {
        e.contentBegin = k + 1;
        if (self) {
          e.selfClosing = true;
          e.contentEnd = e.end = k + 1;
          e.ok = true;
          return e;
        }
      }
      if (!self) ++depth;
      i = k + 1;
    }
  }
  return e;
}

struct StringWriter : pugi::xml_writer {
  std::string out;
  void write(const void* data, std::size_t size) override {
    out.append(static_cast<const char*>(data), size);
  }
};

std::string LineAndColumn(std::string_view text, std::ptrdiff_t offset) {
  std::size_t line = 1, column = 1;
  for (std::size_t k = 0;
       k < text.size() && k < static_cast<std::size_t>(std::max<std::ptrdiff_t>(offset, 0)); ++k) {
    if (text[k] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

}  // namespace

bool LanguageNamesEqual(std::string_view a, std::string_view b) { return FoldCase(a) == FoldCase(b); }

// Codes are compared trimmed of white space at both ends: a stored code is
// read without it, so a requested code keeping a tab or a line break at its
// end would never be found and would be added again at every lookup.
bool CodesEqual(std::string_view a, std::string_view b) {
  return FoldCase(TrimXmlSpace(a)) == FoldCase(TrimXmlSpace(b));
}

bool ConfigurationBoolean(const std::optional<std::string>& value) {
  if (!value) return false;
  std::string folded = FoldCase(TrimXmlSpace(*value));
  if (folded == "true") return true;
  if (folded == "false") return false;
  std::optional<double> number = ParseNumber(folded);
  return number && *number != 0;
}

struct ConfigFile::Impl {
  std::filesystem::path path;
  std::shared_ptr<ConfigFileSystem> fs;
  // The shipped catalogue behind the user's copy, when there is one.
  std::unique_ptr<ConfigFile> defaults;

  std::optional<std::string> ShippedText(const std::string& language, const std::string& code) {
    return defaults ? defaults->FindMessage(language, code) : std::nullopt;
  }

  // The file as last read: its stamp, its bytes, and when its content was
  // last known to match the disk.
  bool haveSnapshot = false;
  FileStamp stamp;
  std::string raw;
  std::int64_t verifiedNs = 0;

  // The parsed document (only when `loaded`) and its index.
  bool loaded = false;
  DecodedXml decoded;
  pugi::xml_document doc;
  struct Language {
    pugi::xml_node element;
    std::unordered_map<std::string, std::string> texts;  // folded, trimmed code -> text
  };
  std::vector<Language> languages;
  std::unordered_map<std::string, std::size_t> languageByName;  // folded name -> languages index
  std::vector<std::string> languageNames;                       // every NOM in document order

  // Saves that failed, so that they are not retried at every lookup.
  bool saveBlocked = false;
  FileStamp blockedStamp;
  std::string blockedError;
  std::int64_t blockedUntilNs = 0;

  std::string problem;  // the failure of the current or last call
  std::string pending;  // a failure the operator has not been given yet
  std::string queued;   // the failure last queued, not queued again while it lasts

  std::string Where() const { return "The configuration file " + path.string(); }

  void SetProblem(std::string text) {
    problem = std::move(text);
    if (problem != queued) pending = queued = problem;
  }

  // Ends a public call: a call that went well ends the current failure, so
  // that the same failure met again later is reported again.
  void EndCall() {
    if (problem.empty()) queued.clear();
  }
  struct CallScope {
    Impl& impl;
    ~CallScope() { impl.EndCall(); }
  };

  void Forget() {
    haveSnapshot = false;
    loaded = false;
    raw.clear();
    doc.reset();
    languages.clear();
    languageByName.clear();
    languageNames.clear();
  }

  void Unreadable(const std::string& reason) {
    Forget();
    SetProblem(Where() + " cannot be read (" + reason +
               "). The program uses its built-in texts and settings.");
  }

  // Makes the snapshot match the file on disk; true when it is parsed.
  bool Refresh() {
    problem.clear();
    std::int64_t now = fs->NowNs();
    FileStamp st;
    std::string error;
    if (!fs->Stat(path, st, error)) {
      Unreadable(error);
      return false;
    }
    std::string bytes;
    if (haveSnapshot && st == stamp) {
      if (std::max(st.modifiedNs, st.changedNs) + kStampTrustNs <= verifiedNs) return Settled();
      if (!fs->ReadAll(path, bytes, error)) {
        Unreadable(error);
        return false;
      }
      if (bytes == raw) {
        verifiedNs = now;
        return Settled();
      }
    } else if (!fs->ReadAll(path, bytes, error)) {
      Unreadable(error);
      return false;
    }
    return Load(std::move(bytes), st, now);
  }

  bool Settled() {
    if (!loaded) SetProblem(loadProblem);
    return loaded;
  }
  std::string loadProblem;

  bool Load(std::string bytes, const FileStamp& st, std::int64_t readNs) {
    Forget();
    haveSnapshot = true;
    stamp = st;
    raw = std::move(bytes);
    verifiedNs = readNs;
    std::string error;
    if (!DecodeXml(raw, decoded, error)) {
      loadProblem = Where() + " cannot be read: " + error +
                    ". The program uses its built-in texts and settings and leaves the file as it is.";
      SetProblem(loadProblem);
      return false;
    }
    pugi::xml_parse_result result =
        doc.load_buffer(decoded.text.data(), decoded.text.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!result) {
      loadProblem = Where() + " is not well-formed XML (" + result.description() + " at " +
                    LineAndColumn(decoded.text, result.offset) +
                    "). The program uses its built-in texts and settings and leaves the file as it is.";
      SetProblem(loadProblem);
      doc.reset();
      return false;
    }
    if (NestingDepth(doc, kMaxDepth) > kMaxDepth) {
      loadProblem =
          Where() + " nests elements more than " + std::to_string(kMaxDepth) +
          " levels deep. The program uses its built-in texts and settings and leaves the file as it is.";
      SetProblem(loadProblem);
      doc.reset();
      return false;
    }
    BuildIndex();
    loaded = true;
    return true;
  }

  Language* FindLanguage(const std::string& name) {
    auto found = languageByName.find(FoldCase(name));
    return found == languageByName.end() ? nullptr : &languages[found->second];
  }

  static const std::string* FindText(const Language& language, const std::string& code) {
    auto text = language.texts.find(FoldCase(TrimXmlSpace(code)));
    return text == language.texts.end() ? nullptr : &text->second;
  }

  // Whether `text` may go into the file; otherwise the reason is kept.
  bool Writable(const std::string& text, const char* what) {
    auto refused = CharacterXmlRefuses(text);
    if (!refused) return true;
    SetProblem("A " + std::string(what) + " holds a character that an XML file cannot hold (" + *refused +
               "); it was not written to " + path.string() + ".");
    return false;
  }

  // Saves wait a while after one failed, unless the file changed since.
  bool SaveBlocked() { return saveBlocked && blockedStamp == stamp && fs->NowNs() < blockedUntilNs; }

  // Takes the lock every program takes to save the file; a lock that cannot
  // be had counts as a failed save.
  std::unique_ptr<FileLock> LockForSave() {
    std::string error;
    auto lock = fs->Lock(path, kLockWait, error);
    if (!lock) SaveFailed(error);
    return lock;
  }

  void BuildIndex() {
    pugi::xml_node root = doc.document_element();
    for (pugi::xml_node messages : root.children()) {
      if (messages.type() != pugi::node_element || !AsciiNameIs(messages.name(), "MESSAGES")) continue;
      for (pugi::xml_node language : messages.children()) {
        if (language.type() != pugi::node_element) continue;
        std::size_t index = SIZE_MAX;
        for (pugi::xml_attribute attribute : language.attributes()) {
          if (!AsciiNameIs(attribute.name(), "NOM")) continue;
          languageNames.emplace_back(attribute.value());
          std::string key = FoldCase(attribute.value());
          if (languageByName.count(key)) continue;  // the first language of a name is the one used
          if (index == SIZE_MAX) index = IndexLanguage(language);
          languageByName.emplace(std::move(key), index);
        }
      }
    }
  }

  std::size_t IndexLanguage(pugi::xml_node element) {
    Language language{element, {}};
    for (pugi::xml_node entry : element.children()) {
      if (entry.type() != pugi::node_element) continue;
      pugi::xml_node codeNode = ContentChild(entry, 0);
      if (!codeNode) continue;
      pugi::xml_node textNode = ContentChild(entry, 1);
      // The first entry of a code is the one found.
      language.texts.emplace(FoldCase(TextOf(codeNode)), textNode ? TextOf(textNode) : std::string());
    }
    languages.push_back(std::move(language));
    return languages.size() - 1;
  }

  // Writes the new document text back in the file's encoding and takes it
  // as the new snapshot. On failure the file and the snapshot stay as they were.
  // The caller holds the save lock.
  bool Save(const std::string& text) {
    std::string bytes = EncodeXml(text, decoded.encoding, decoded.byteOrderMark);
    std::string error;
    if (!fs->ReplaceFile(path, bytes, error)) {
      SaveFailed(error);
      return false;
    }
    saveBlocked = false;
    std::int64_t now = fs->NowNs();
    FileStamp st;
    if (!fs->Stat(path, st, error)) {
      Unreadable(error);
      return true;
    }
    Load(std::move(bytes), st, now);
    return true;
  }

  void SaveFailed(const std::string& error) {
    // The same failure of the same file, met again after the pause, is
    // not reported again.
    bool repeated = saveBlocked && blockedStamp == stamp && blockedError == error;
    saveBlocked = true;
    blockedStamp = stamp;
    blockedError = error;
    blockedUntilNs = fs->NowNs() + kSaveRetryNs;
    std::string message = Where() + " could not be saved (" + error + "); it was left as it was.";
    if (repeated) {
      problem = std::move(message);
    } else {
      SetProblem(std::move(message));
    }
  }

  // Sets the code (position 0) or the text (1) of a copied entry. A CDATA
  // section standing there on its own that would have to be split around a
  // character the file's encoding lacks (which would move the entry's
  // positions) becomes plain text, which holds the character's reference.
  void SetEntryText(pugi::xml_node entry, int position, const std::string& value) {
    pugi::xml_node n = ContentChild(entry, position);
    if (n.type() == pugi::node_cdata && !XmlEncodingHolds(decoded.encoding, value)) {
      n = entry.insert_child_before(pugi::node_pcdata, n);
      entry.remove_child(n.next_sibling());
    }
    SetText(n, value);
  }

  // Appends a copy of the language's first entry holding `code` and `text`
  // after its last entry, with the same indentation.
  void AddEntry(pugi::xml_node language, const std::string& languageName, const std::string& code,
                const std::string& text) {
    pugi::xml_node first =
        language.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; });
    pugi::xml_node last = language.last_child();
    while (last && last.type() != pugi::node_element) last = last.previous_sibling();
    if (!first || !ContentChild(first, 1)) {
      SetProblem(Where() + ": the language \"" + languageName +
                 "\" has no entry with a code and a text to copy, so \"" + code + "\" was not added.");
      return;
    }
    pugi::xml_document scratch;
    pugi::xml_node copy = scratch.append_copy(first);
    SetEntryText(copy, 0, code);
    SetEntryText(copy, 1, text);
    // Stray text after the code and the text (around a skipped processing
    // instruction, say) is left out of the copy: written next to the new
    // text it would read back as part of it.
    for (pugi::xml_node c = ContentChild(copy, 2); c;) {
      const pugi::xml_node next = c.next_sibling();
      if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) copy.remove_child(c);
      c = next;
    }
    StringWriter entry;
    copy.print(entry, "", pugi::format_raw | pugi::format_no_declaration | pugi::format_no_empty_element_tags,
               pugi::encoding_utf8);
    // The copy must read back as the code and the text: an entry whose code
    // and text are bare texts side by side would read back as one.
    pugi::xml_document check;
    check.load_buffer(entry.out.data(), entry.out.size(), pugi::parse_default, pugi::encoding_utf8);
    if (TextOf(ContentChild(check.first_child(), 0)) != TrimXmlSpace(code) ||
        TextOf(ContentChild(check.first_child(), 1)) != TrimXmlSpace(text)) {
      SetProblem(Where() + ": the first entry of the language \"" + languageName +
                 "\" cannot be copied (its code and text do not read back apart), so \"" + code +
                 "\" was not added.");
      return;
    }

    std::ptrdiff_t name = last.offset_debug();
    Extent extent = name > 0 ? ScanElement(decoded.text, static_cast<std::size_t>(name - 1)) : Extent{};
    if (!extent.ok) {
      SetProblem(Where() + ": the last entry of the language \"" + languageName + "\" could not be located.");
      return;
    }
    std::size_t lt = static_cast<std::size_t>(name - 1);
    std::size_t indentStart = lt;
    while (indentStart > 0 && IsXmlSpace(decoded.text[indentStart - 1])) --indentStart;
    std::string text2;
    text2.reserve(decoded.text.size() + entry.out.size() + (lt - indentStart));
    text2.append(decoded.text, 0, extent.end);
    text2.append(decoded.text, indentStart, lt - indentStart);
    text2 += entry.out;
    text2.append(decoded.text, extent.end);
    Save(text2);
  }

  pugi::xml_node FindSetting(pugi::xml_node parent, const std::string& name) {
    bool underConfiguration = std::strcmp(parent.name(), "Configuration") == 0;
    for (pugi::xml_node child : parent.children()) {
      if (child.type() != pugi::node_element) continue;
      if (underConfiguration && name == child.name()) return child;
      if (pugi::xml_node found = FindSetting(child, name)) return found;
    }
    return {};
  }
};

ConfigFile::ConfigFile(std::filesystem::path path, std::shared_ptr<ConfigFileSystem> fileSystem)
    : impl_(std::make_unique<Impl>()) {
  impl_->path = std::move(path);
  impl_->fs = fileSystem ? std::move(fileSystem) : std::make_shared<PosixConfigFileSystem>();
}

ConfigFile::ConfigFile(const ConfigLocation& location, std::shared_ptr<ConfigFileSystem> fileSystem)
    : ConfigFile(location.file, fileSystem) {
  if (location.defaults.empty()) return;
  impl_->defaults = std::make_unique<ConfigFile>(location.defaults, impl_->fs);
  impl_->fs = std::make_shared<UserCopyFileSystem>(impl_->fs, location.defaults);
}

ConfigFile::~ConfigFile() = default;

const std::filesystem::path& ConfigFile::Path() const { return impl_->path; }

std::string ConfigFile::LitMessage(const std::string& language, const std::string& code,
                                   const std::string& defaultText) {
  Impl::CallScope scope{*impl_};
  std::string fallback = defaultText.empty() ? code : defaultText;
  if (!impl_->Refresh()) return fallback;
  Impl::Language* entries = impl_->FindLanguage(language);
  if (!entries) return impl_->ShippedText(language, code).value_or(code);
  if (const std::string* text = Impl::FindText(*entries, code)) return *text;
  // A newer package's translation reaches an older user's copy.
  if (auto shipped = impl_->ShippedText(language, code)) fallback = *shipped;
  // An empty code, or one the file cannot hold, is never added.
  if (TrimXmlSpace(code).empty() || !impl_->Writable(code, "message code") ||
      !impl_->Writable(fallback, "message text") || impl_->SaveBlocked()) {
    return fallback;
  }
  auto lock = impl_->LockForSave();
  if (!lock) return fallback;
  // Another program may have saved the file since it was read: the entry is
  // added to what is there now, unless that program added it already.
  if (!impl_->Refresh()) return fallback;
  entries = impl_->FindLanguage(language);
  if (!entries) return impl_->ShippedText(language, code).value_or(code);
  if (const std::string* text = Impl::FindText(*entries, code)) return *text;
  impl_->AddEntry(entries->element, language, code, fallback);
  return fallback;
}

std::optional<std::string> ConfigFile::FindMessage(const std::string& language, const std::string& code,
                                                   bool* languageFound) {
  Impl::CallScope scope{*impl_};
  if (languageFound) *languageFound = false;
  if (!impl_->Refresh()) return std::nullopt;
  Impl::Language* entries = impl_->FindLanguage(language);
  if (!entries) return std::nullopt;
  if (languageFound) *languageFound = true;
  if (const std::string* text = Impl::FindText(*entries, code)) return *text;
  return std::nullopt;
}

std::optional<std::string> ConfigFile::LitConfiguration(const std::string& name) {
  Impl::CallScope scope{*impl_};
  if (!impl_->Refresh()) return std::nullopt;
  pugi::xml_node setting = impl_->FindSetting(impl_->doc, name);
  if (!setting) return std::nullopt;
  return TextOf(setting);
}

bool ConfigFile::EcritConfiguration(const std::string& name, const std::string& value) {
  Impl::CallScope scope{*impl_};
  if (!impl_->Refresh()) return false;
  if (!impl_->FindSetting(impl_->doc, name) || !impl_->Writable(value, "setting")) return false;
  if (impl_->SaveBlocked()) return false;
  auto lock = impl_->LockForSave();
  if (!lock) return false;
  // Written into the file as it is now, not as it was first read.
  if (!impl_->Refresh()) return false;
  pugi::xml_node setting = impl_->FindSetting(impl_->doc, name);
  if (!setting) return false;
  const std::string& text = impl_->decoded.text;
  std::ptrdiff_t at = setting.offset_debug();
  Extent extent = at > 0 ? ScanElement(text, static_cast<std::size_t>(at - 1)) : Extent{};
  if (!extent.ok) {
    impl_->SetProblem(impl_->Where() + ": the setting \"" + name + "\" could not be located.");
    return false;
  }
  std::size_t lt = static_cast<std::size_t>(at - 1);
  std::string escaped = EscapeText(value);
  std::string updated;
  if (extent.selfClosing) {
    // <Name attributes/> becomes <Name attributes>value</Name>.
    std::size_t close = extent.contentBegin - 2;
    while (close > lt && IsXmlSpace(text[close - 1])) --close;
    updated = text.substr(0, close) + ">" + escaped + "</" + setting.name() + ">" + text.substr(extent.end);
  } else {
    if (text.compare(extent.contentBegin, extent.contentEnd - extent.contentBegin, escaped) == 0) return true;
    updated = text.substr(0, extent.contentBegin) + escaped + text.substr(extent.contentEnd);
  }
  return impl_->Save(updated);
}

LanguageList ConfigFile::RemplitListeLangues(const std::string& language) {
  Impl::CallScope scope{*impl_};
  LanguageList list;
  if (!impl_->Refresh()) return list;
  list.names = impl_->languageNames;
  for (std::size_t k = 0; k < list.names.size(); ++k) {
    if (list.names[k] == language) list.selected = static_cast<int>(k);
  }
  return list;
}

bool ConfigFile::Loaded() const { return impl_->loaded; }

const std::string& ConfigFile::LastProblem() const { return impl_->problem; }

std::optional<std::string> ConfigFile::TakeProblem() {
  if (impl_->pending.empty()) return std::nullopt;
  return std::exchange(impl_->pending, std::string());
}

}  // namespace hx
