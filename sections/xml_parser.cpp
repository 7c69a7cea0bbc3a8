#include "sections/xml_parser.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "sections/xml_section.h"

namespace {

// Deeper documents are refused: a tree that deep would overflow the stack when it is freed or
// written.
constexpr size_t kMaxDepth = kMaxSectionDepth;
constexpr size_t kMinEntityLength = 3;  // "&x;" counted from '&' to ';'
constexpr size_t kMaxEntityLength = 30;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
int hexValue(char c) {
  if (isDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The character a reference name (the text between '&' and ';') stands for.
bool decodeReference(const char* name, size_t length, char& out) {
  const std::string text(name, length);
  if (text == "amp") out = '&';
  else if (text == "lt") out = '<';
  else if (text == "gt") out = '>';
  else if (text == "quot") out = '"';
  else if (text == "apos") out = '\'';
  else if (length >= 2 && text[0] == '#') {
    // Leading digits count, as a scanf conversion reads them; only the low 8 bits are kept.
    const bool hex = text[1] == 'x';
    size_t i = hex ? 2 : 1;
    const size_t first = i;
    uint32_t code = 0;
    for (; i < length; ++i) {
      const int digit = hex ? hexValue(text[i]) : (isDigit(text[i]) ? text[i] - '0' : -1);
      if (digit < 0) break;
      code = code * (hex ? 16u : 10u) + static_cast<uint32_t>(digit);
    }
    if (i == first) return false;
    out = static_cast<char>(code & 0xFF);
  } else {
    return false;
  }
  return true;
}

}  // namespace

// One parse over one block. The open-element and waiting-children stacks are per thread and
// keep their capacity from one parse to the next.
class XmlParser {
 public:
  XmlParser(const std::string& tag, const BlockRef& block)
      : tag_(tag), block_(block), text_(reinterpret_cast<char*>(block->data())),
        end_(static_cast<size_t>(block->length())) {}

  SectionRef run() {
    SectionRef result = parse() ? root_ : SectionRef();
    open_.clear();
    waiting_.clear();
    if (result && !tag_.empty()) {
      XMLSection* root = static_cast<XMLSection*>(result.get());
      root->rawName_ = nullptr;
      root->name_ = tag_;
    }
    return result;
  }

 private:
  enum class Step { kContinue, kDone, kFail };
  struct OpenElement {
    XMLSection* section;
    size_t pending;  // completed children waiting on waiting_
  };

  bool parse() {
    open_.clear();
    waiting_.clear();
    for (;;) {
      while (pos_ < end_ && isBlank(text_[pos_])) ++pos_;
      if (pos_ >= end_) return false;  // the block ended before the root was closed
      size_t lt = pos_;
      if (text_[pos_] != '<' && !readText(lt)) return false;
      const Step step = markup(lt);
      if (step == Step::kFail) return false;
      if (step == Step::kDone) return true;
    }
  }

  // Markup starting at the '<' at lt (the '<' itself may already be overwritten).
  Step markup(size_t lt) {
    pos_ = lt + 1;
    if (pos_ >= end_) return Step::kFail;
    if (text_[pos_] == '!') return bang(pos_ + 1);
    if (text_[pos_] == '?') {
      const size_t close = find("?>", pos_ + 1);
      if (close == kNone) return Step::kFail;
      pos_ = close + 2;
      return Step::kContinue;
    }
    const bool closing = text_[pos_] == '/';
    if (closing) ++pos_;
    const size_t start = pos_;
    const size_t gt = findChar('>', start);
    if (gt == kNone) return Step::kFail;
    text_[gt] = '\0';
    size_t stop = gt;
    while (stop > start && isBlank(text_[stop - 1])) text_[--stop] = '\0';
    pos_ = gt + 1;
    return closing ? closeTag(start) : openTag(start, stop);
  }

  Step openTag(size_t start, size_t stop) {
    SectionRef section(new XMLSection(std::string()));
    XMLSection* element = static_cast<XMLSection*>(section.get());
    element->rawName_ = text_ + start;
    if (open_.empty()) {
      root_ = section;
      open_.push_back({element, 0});
      return Step::kContinue;
    }
    waiting_.push_back(section);
    ++open_.back().pending;
    if (stop > start && text_[stop - 1] == '/') {
      text_[--stop] = '\0';
      while (stop > start && isBlank(text_[stop - 1])) text_[--stop] = '\0';
      dropAttributes(start, stop);
      element->textBlock_ = block_;
      return Step::kContinue;
    }
    if (open_.size() >= kMaxDepth) return Step::kFail;
    open_.push_back({element, 0});
    return Step::kContinue;
  }

  // A name followed by whitespace and then some '=' holds attributes: cut it at the whitespace.
  void dropAttributes(size_t start, size_t stop) {
    size_t blank = start;
    while (blank < stop && !isBlank(text_[blank])) ++blank;
    if (blank == stop) return;
    if (std::memchr(text_ + blank, '=', stop - blank)) text_[blank] = '\0';
  }

  Step closeTag(size_t start) {
    if (open_.empty()) return Step::kFail;
    XMLSection* element = open_.back().section;
    const char* closingName = text_ + start;
    const char* rawName = element->rawName_;
    if (std::strcmp(closingName, rawName) != 0) {
      // The opening tag held attributes: it must start with this name and then whitespace.
      const size_t length = std::strlen(closingName);
      if (std::strncmp(rawName, closingName, length) != 0 || !isBlank(rawName[length]))
        return Step::kFail;
      text_[static_cast<size_t>(rawName - text_) + length] = '\0';
    }
    const size_t pending = open_.back().pending;
    element->children_.assign(waiting_.end() - static_cast<std::ptrdiff_t>(pending),
                              waiting_.end());
    waiting_.resize(waiting_.size() - pending);
    element->textBlock_ = block_;
    open_.pop_back();
    return open_.empty() ? Step::kDone : Step::kContinue;
  }

  // After "<!": a comment, a CDATA section, or something unknown read on as text.
  Step bang(size_t at) {
    if (at + 1 < end_ && text_[at] == '-' && text_[at + 1] == '-') return comment(at + 2);
    if (at < end_ && text_[at] == '[') {
      if (end_ - at < 7 || std::memcmp(text_ + at + 1, "CDATA[", 6) != 0) return Step::kFail;
      return cdata(at + 7);
    }
    pos_ = at < end_ ? at + 1 : end_;
    return Step::kContinue;
  }

  // Comments nest: every "<!--" inside needs its own "-->".
  Step comment(size_t at) {
    size_t depth = 1;
    while (at < end_) {
      if (end_ - at >= 3 && std::memcmp(text_ + at, "-->", 3) == 0) {
        at += 3;
        if (--depth == 0) {
          pos_ = at;
          return Step::kContinue;
        }
      } else if (end_ - at >= 4 && std::memcmp(text_ + at, "<!--", 4) == 0) {
        at += 4;
        ++depth;
      } else {
        ++at;
      }
    }
    return Step::kFail;
  }

  Step cdata(size_t start) {
    const size_t close = find("]]>", start);
    if (close == kNone || open_.empty()) return Step::kFail;
    XMLSection* element = open_.back().section;
    if (element->rawValue_) return Step::kFail;
    text_[close] = '\0';
    element->rawValue_ = text_ + start;
    pos_ = close + 3;
    return Step::kContinue;
  }

  // A text run from pos_ up to the next '<', whose position goes to lt. Trimmed at the end,
  // terminated in place (possibly over that '<') and entity-decoded.
  bool readText(size_t& lt) {
    if (open_.empty()) return false;
    const size_t start = pos_;
    size_t stop = start;
    size_t at = start;
    for (; at < end_ && text_[at] != '<'; ++at)
      if (!isBlank(text_[at])) stop = at + 1;
    if (at >= end_) return false;
    XMLSection* element = open_.back().section;
    if (element->rawValue_) return false;
    text_[stop] = '\0';
    decodeEntities(start, stop);
    element->rawValue_ = text_ + start;
    lt = at;
    return true;
  }

  // Replaces references in [start, stop) in place; the text shrinks and is re-terminated.
  void decodeEntities(size_t start, size_t stop) {
    size_t read = start, write = start;
    while (read < stop) {
      if (text_[read] == '&') {
        // Looking no further than the longest reference keeps a text full of '&' linear.
        const size_t limit = std::min(stop, read + kMaxEntityLength);
        size_t semi = read + 1;
        while (semi < limit && text_[semi] != ';') ++semi;
        const bool cutOff = semi == stop;
        const size_t refEnd = semi < limit ? semi + 1 : stop;
        const size_t length = refEnd - read;
        char decoded;
        if ((semi < limit || cutOff) && length >= kMinEntityLength &&
            decodeReference(text_ + read + 1, semi - read - 1, decoded)) {
          text_[write++] = decoded;
          read = refEnd;
          continue;
        }
      }
      text_[write++] = text_[read++];
    }
    if (write < stop) text_[write] = '\0';
  }

  static constexpr size_t kNone = static_cast<size_t>(-1);
  size_t findChar(char c, size_t from) const {
    if (from >= end_) return kNone;
    const void* hit = std::memchr(text_ + from, c, end_ - from);
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - text_) : kNone;
  }
  size_t find(const char* pattern, size_t from) const {
    const size_t length = std::strlen(pattern);
    for (size_t at = from; at < end_ && end_ - at >= length; ++at)
      if (std::memcmp(text_ + at, pattern, length) == 0) return at;
    return kNone;
  }

  static thread_local std::vector<OpenElement> open_;
  static thread_local std::vector<SectionRef> waiting_;

  const std::string& tag_;
  BlockRef block_;
  char* text_;
  size_t end_;
  size_t pos_ = 0;
  SectionRef root_;
};

thread_local std::vector<XmlParser::OpenElement> XmlParser::open_;
thread_local std::vector<SectionRef> XmlParser::waiting_;

SectionRef parseXmlSection(const std::string& tag, const BlockRef& block) {
  if (!block || block->length() <= 0) return SectionRef();
  return XmlParser(tag, block).run();
}
