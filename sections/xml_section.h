// The section form built from XML text, also usable as a free-standing editable tree.
//
// Parsed sections point into the text block they were parsed from (names and values are
// zero-terminated in place) and keep that block alive; values and names set by a program are
// held as strings and take precedence once set.
#pragma once

#include <string>
#include <vector>

#include "sections/data_section.h"

class XmlParser;

class XMLSection : public DataSection {
 public:
  explicit XMLSection(const std::string& name);
  ~XMLSection() override;

  int childCount() override;
  SectionRef childAt(int index) override;
  SectionRef addChild(const std::string& tag, SectionCreator* creator = nullptr) override;
  // index -1, or beyond the end, appends; 0 .. childCount() inserts before that position.
  SectionRef insertChild(const std::string& tag, int index) override;
  SectionRef findChild(const std::string& tag, SectionCreator* creator = nullptr) override;
  void removeChild(const SectionRef& child) override;
  void removeChildNamed(const std::string& tag) override;
  void removeAllChildren() override;

  std::string name() override;
  int sizeInBytes() override;
  bool saveTo(const std::string& path) override;
  void setOwner(const SectionRef& owner) override;

  bool getBool(bool defaultValue) override;
  int getInt(int defaultValue) override;
  long getLong(long defaultValue) override;
  float getFloat(float defaultValue) override;
  double getDouble(double defaultValue) override;
  std::string getText(const std::string& defaultValue, int mode = 0) override;
  // "!text" is multibyte text; anything else is base64 of 16-bit little-endian characters.
  WideText getWideText(const WideText& defaultValue, int mode = 0) override;
  Vector2 getVector2(const Vector2& defaultValue) override;
  Vector3 getVector3(const Vector3& defaultValue) override;
  Vector4 getVector4(const Vector4& defaultValue) override;
  Matrix getMatrix(const Matrix& defaultValue) override;
  // The section written as text (see xml_writer.h).
  BlockRef getBlock() override;
  std::string getBlobText(const std::string& defaultValue) override;

  bool storeBool(bool value, const char* format = "%s") override;
  bool storeInt(int value, const char* format = "%d") override;
  bool storeUInt(unsigned int value, const char* format = "%u") override;
  bool storeFloat(float value, const char* format = "%f") override;
  bool storeDouble(double value, const char* format = "%f") override;
  bool storeText(const std::string& value) override;
  bool storeWideText(const WideText& value) override;
  bool storeVector2(const Vector2& value, const char* format = "%f %f") override;
  bool storeVector3(const Vector3& value, const char* format = "%f %f %f") override;
  bool storeVector4(const Vector4& value, const char* format = "%f %f %f %f") override;
  bool storeMatrix(const Matrix& value, const char* format = "%f %f %f") override;
  bool storeBlobText(const std::string& bytes) override;

  std::string encodeName(const std::string& text) override;
  std::string decodeName(const std::string& text) override;
  // Takes the name out of the text block, encodes spaces and prefixes "id." to a leading
  // digit; true when the name changed.
  bool normaliseName() override;
  bool hasValidName() override;

  // The value as text, empty when there is none.
  std::string effectiveText() const;

 private:
  friend class XmlParser;
  bool storeFormatted(const char* format, ...);
  const char* effectiveValue() const;

  const char* rawName_ = nullptr;   // inside textBlock_, zero-terminated
  const char* rawValue_ = nullptr;  // inside textBlock_, zero-terminated
  std::string name_;
  std::string value_;
  std::vector<SectionRef> children_;
  SectionRef owner_;
  BlockRef textBlock_;
};

// The process-wide section that converts texts to typed values (and back) for other forms.
// Created on first use, kept until the process exits.
SectionRef scratchSection();

// The wide-text reading of a value text: empty stays empty; "!text" is up to 255 multibyte
// characters; anything else is base64 of 16-bit little-endian characters ("error" when the
// text is longer than 512 characters).
WideText wideTextFromValue(const std::string& text);
