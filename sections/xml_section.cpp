#include "sections/xml_section.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/ansi_text.h"
#include "sections/base64.h"
#include "sections/section_cache.h"
#include "sections/xml_names.h"
#include "sections/xml_writer.h"

namespace {

// Typed writes print into a buffer of this size; longer output is cut.
constexpr size_t kFormatBufferSize = 512;
constexpr size_t kMaxBangWideChars = 255;
constexpr size_t kMaxBase64WideText = 512;
constexpr int kMinTextBlockSize = 1024;

bool equalsNoCase(const std::string& text, const char* word) {
  if (text.size() != std::char_traits<char>::length(word)) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char a = text[i], b = word[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

}  // namespace

XMLSection::XMLSection(const std::string& name) : name_(name) {}
XMLSection::~XMLSection() = default;

// ---- Children ----

int XMLSection::childCount() { return static_cast<int>(children_.size()); }

SectionRef XMLSection::childAt(int index) {
  if (index < 0 || index >= childCount()) return SectionRef();
  return children_[static_cast<size_t>(index)];
}

SectionRef XMLSection::addChild(const std::string& tag, SectionCreator*) {
  SectionRef child(new XMLSection(tag));
  children_.push_back(child);
  return child;
}

SectionRef XMLSection::insertChild(const std::string& tag, int index) {
  if (index < -1) return SectionRef();
  if (index == -1 || index >= childCount()) return addChild(tag, nullptr);
  SectionRef child(new XMLSection(tag));
  children_.insert(children_.begin() + index, child);
  return child;
}

SectionRef XMLSection::findChild(const std::string& tag, SectionCreator*) {
  for (const SectionRef& child : children_)
    if (child->name() == tag) return child;
  return SectionRef();
}

void XMLSection::removeChild(const SectionRef& child) {
  auto it = std::find(children_.begin(), children_.end(), child);
  if (it != children_.end()) children_.erase(it);
}

void XMLSection::removeChildNamed(const std::string& tag) {
  auto it = std::find_if(children_.begin(), children_.end(),
                         [&tag](const SectionRef& child) { return child->name() == tag; });
  if (it != children_.end()) children_.erase(it);
}

void XMLSection::removeAllChildren() { children_.clear(); }

// ---- Identity and storage ----

std::string XMLSection::name() { return rawName_ ? std::string(rawName_) : name_; }

int XMLSection::sizeInBytes() {
  return textBlock_ ? std::max(kMinTextBlockSize, textBlock_->length()) : kMinTextBlockSize;
}

bool XMLSection::saveTo(const std::string& path) {
  if (!path.empty() && !resolveParent(path, owner_, name_)) return false;
  return owner_ ? owner_->storeChild(SectionRef(this), false) : false;
}

void XMLSection::setOwner(const SectionRef& owner) { owner_ = owner; }

// ---- Reads ----

const char* XMLSection::effectiveValue() const {
  if (rawValue_ && *rawValue_) return rawValue_;
  if (!value_.empty()) return value_.c_str();
  return nullptr;
}

std::string XMLSection::effectiveText() const {
  const char* value = effectiveValue();
  return value ? std::string(value) : std::string();
}

std::string XMLSection::getText(const std::string& defaultValue, int) {
  const char* value = effectiveValue();
  return value ? std::string(value) : defaultValue;
}

bool XMLSection::getBool(bool defaultValue) {
  const std::string text = effectiveText();
  if (equalsNoCase(text, "true")) return true;
  if (equalsNoCase(text, "false")) return false;
  return defaultValue;
}

// The C library's conversions: leading numeric text counts, anything else reads as zero.
int XMLSection::getInt(int defaultValue) {
  const char* value = effectiveValue();
  return value ? static_cast<int>(std::strtol(value, nullptr, 10)) : defaultValue;
}

long XMLSection::getLong(long defaultValue) {
  const char* value = effectiveValue();
  return value ? std::strtol(value, nullptr, 10) : defaultValue;
}

double XMLSection::getDouble(double defaultValue) {
  const char* value = effectiveValue();
  return value ? std::strtod(value, nullptr) : defaultValue;
}

float XMLSection::getFloat(float defaultValue) {
  return static_cast<float>(getDouble(defaultValue));
}

Vector2 XMLSection::getVector2(const Vector2& defaultValue) {
  Vector2 v;
  const char* value = effectiveValue();
  if (value && std::sscanf(value, "%f%f", &v.x, &v.y) == 2) return v;
  return defaultValue;
}

Vector3 XMLSection::getVector3(const Vector3& defaultValue) {
  Vector3 v;
  const char* value = effectiveValue();
  if (value && std::sscanf(value, "%f%f%f", &v.x, &v.y, &v.z) == 3) return v;
  return defaultValue;
}

Vector4 XMLSection::getVector4(const Vector4& defaultValue) {
  Vector4 v;
  const char* value = effectiveValue();
  if (value && std::sscanf(value, "%f%f%f%f", &v.x, &v.y, &v.z, &v.w) == 4) return v;
  return defaultValue;
}

Matrix XMLSection::getMatrix(const Matrix& defaultValue) { return readMatrixRows(defaultValue); }

BlockRef XMLSection::getBlock() {
  const std::string text = writeXmlText(*this);
  return BinaryBlock::fromString(text, "BinaryBlock/DataSection");
}

std::string XMLSection::getBlobText(const std::string&) { return base64Decode(effectiveText()); }

WideText XMLSection::getWideText(const WideText&, int) {
  return wideTextFromValue(effectiveText());
}

// ---- Writes ----

bool XMLSection::storeText(const std::string& value) {
  value_ = value;
  rawValue_ = nullptr;
  return true;
}

bool XMLSection::storeFormatted(const char* format, ...) {
  // Output longer than the buffer is cut; the buffer is terminated by hand because some C
  // runtimes leave a cut buffer unterminated.
  char buffer[kFormatBufferSize] = {};
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format ? format : "", args);
  va_end(args);
  buffer[sizeof buffer - 1] = '\0';
  return storeText(buffer);
}

bool XMLSection::storeBool(bool value, const char* format) {
  return storeFormatted(format, value ? "true" : "false");
}
bool XMLSection::storeInt(int value, const char* format) { return storeFormatted(format, value); }
bool XMLSection::storeUInt(unsigned int value, const char* format) {
  return storeFormatted(format, value);
}
bool XMLSection::storeFloat(float value, const char* format) {
  return storeFormatted(format, static_cast<double>(value));
}
bool XMLSection::storeDouble(double value, const char* format) {
  return storeFormatted(format, value);
}
bool XMLSection::storeVector2(const Vector2& v, const char* format) {
  return storeFormatted(format, static_cast<double>(v.x), static_cast<double>(v.y));
}
bool XMLSection::storeVector3(const Vector3& v, const char* format) {
  return storeFormatted(format, static_cast<double>(v.x), static_cast<double>(v.y),
                        static_cast<double>(v.z));
}
bool XMLSection::storeVector4(const Vector4& v, const char* format) {
  return storeFormatted(format, static_cast<double>(v.x), static_cast<double>(v.y),
                        static_cast<double>(v.z), static_cast<double>(v.w));
}
bool XMLSection::storeMatrix(const Matrix& value, const char* format) {
  return writeMatrixRows(value, format);
}

bool XMLSection::storeWideText(const WideText& value) {
  std::string bytes;
  bytes.reserve(value.size() * 2);
  for (char16_t c : value) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return storeText(base64Encode(bytes));
}

bool XMLSection::storeBlobText(const std::string& bytes) { return storeText(base64Encode(bytes)); }

// ---- Names ----

std::string XMLSection::encodeName(const std::string& text) { return encodeXmlName(text); }
std::string XMLSection::decodeName(const std::string& text) { return decodeXmlName(text); }

bool XMLSection::normaliseName() {
  if (rawName_) {
    name_ = rawName_;
    rawName_ = nullptr;
  }
  std::string encoded = encodeXmlName(name_);
  if (!encoded.empty() && encoded[0] >= '0' && encoded[0] <= '9') encoded = "id." + encoded;
  if (encoded == name_) return false;
  name_ = encoded;
  return true;
}

bool XMLSection::hasValidName() { return isValidXmlName(name()); }

// ---- Free helpers ----

SectionRef scratchSection() {
  static SectionRef scratch(new XMLSection("scratch"));
  return scratch;
}

WideText wideTextFromValue(const std::string& text) {
  if (text.empty()) return WideText();
  if (text[0] == '!') {
    WideText wide = platform::ansiToUtf16(text.substr(1));
    if (wide.size() > kMaxBangWideChars) wide.resize(kMaxBangWideChars);
    return wide;
  }
  if (text.size() > kMaxBase64WideText) return u"error";
  const std::string bytes = base64Decode(text);
  WideText wide;
  wide.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                  static_cast<unsigned char>(bytes[i + 1]) << 8);
  return wide;
}
