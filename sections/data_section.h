// One node of a hierarchical data tree: a name, one value readable as text or typed values, and
// an ordered list of children. XMLSection, PackedSection and BinSection serve the same interface;
// callers get them from sectionFromBlock and use only what is declared here.
//
// Reads never fail: an absent or unconvertible value gives the caller's default. Writes and
// structural changes answer false or do nothing on forms that do not support them.
#pragma once

#include <string>
#include <vector>

#include "sections/binary_block.h"
#include "sections/reference_count.h"
#include "sections/section_types.h"

class DataSection;
using SectionRef = RefPtr<DataSection>;

// Optional factory hook for sections built by the factory and by findChild/addChild. Nothing in
// the installer implements one; every caller passes none.
class SectionCreator {
 public:
  virtual ~SectionCreator() = default;
  virtual SectionRef create(const SectionRef& parent, const std::string& tag,
                            const BlockRef& block) = 0;
};

// (section, index) over a section's children; dereferencing never yields none (see operator*).
class ChildIterator {
 public:
  ChildIterator(DataSection* section, int index) : section_(section), index_(index) {}
  // childAt(index), or when that is none an empty binary section named childNameAt(index).
  SectionRef operator*() const;
  std::string name() const;
  ChildIterator& operator++() {
    ++index_;
    return *this;
  }
  bool operator==(const ChildIterator& o) const {
    return section_ == o.section_ && index_ == o.index_;
  }
  bool operator!=(const ChildIterator& o) const { return !(*this == o); }
  int index() const { return index_; }

 private:
  DataSection* section_;
  int index_;
};

// The most levels of a tree (the root is the first) the XML parser builds and the writers
// write: each level is a stack frame of the recursive walks, and no configuration comes
// anywhere near it.
// The packed and binary forms cost a few bytes a level, so their readers meet deeper trees.
constexpr int kMaxSectionDepth = 256;

class DataSection : public SafeReferenceCount {
 public:
  DataSection() = default;
  DataSection(const DataSection&) = delete;
  DataSection& operator=(const DataSection&) = delete;
  // Removes the section from this thread's section cache.
  ~DataSection() override;

  // ---- Children (slots 1-10) ----
  virtual int childCount() = 0;
  // Index of that very object among the children, or -1.
  virtual int indexOfChild(const SectionRef& child);
  // None for an index outside 0 .. childCount()-1.
  virtual SectionRef childAt(int index) = 0;
  // Name of childAt(index); empty for an index that yields no child.
  virtual std::string childNameAt(int index);
  virtual SectionRef addChild(const std::string& tag, SectionCreator* creator = nullptr) = 0;
  virtual SectionRef insertChild(const std::string& tag, int index);
  // The first child whose name equals tag exactly, or none.
  virtual SectionRef findChild(const std::string& tag, SectionCreator* creator = nullptr) = 0;
  virtual void removeChild(const SectionRef& child) = 0;
  virtual void removeChildNamed(const std::string& tag) = 0;
  virtual void removeAllChildren() = 0;

  // ---- Identity and storage (slots 11-18) ----
  virtual std::string name() = 0;
  virtual int sizeInBytes() = 0;
  virtual bool saveTo(const std::string& path) = 0;
  virtual bool storeChild(SectionRef child, bool binary);
  virtual void setOwner(const SectionRef& owner);
  virtual SectionRef convertSection(const std::string& path, const SectionRef& section);
  virtual bool isStructured();
  // Appends every child reached by path whose last step matches exactly, in child order.
  virtual void collectChildren(const std::string& path, std::vector<SectionRef>& out);

  // ---- Typed reads (slots 19-31) ----
  virtual bool getBool(bool defaultValue);
  virtual int getInt(int defaultValue);
  virtual long getLong(long defaultValue);
  virtual float getFloat(float defaultValue);
  virtual double getDouble(double defaultValue);
  virtual std::string getText(const std::string& defaultValue, int mode = 0);
  virtual WideText getWideText(const WideText& defaultValue, int mode = 0);
  virtual Vector2 getVector2(const Vector2& defaultValue);
  virtual Vector3 getVector3(const Vector3& defaultValue);
  virtual Vector4 getVector4(const Vector4& defaultValue);
  virtual Matrix getMatrix(const Matrix& defaultValue);
  virtual BlockRef getBlock();
  virtual std::string getBlobText(const std::string& defaultValue);

  // ---- Typed writes (slots 32-44); formats are printf formats ----
  virtual bool storeBool(bool value, const char* format = "%s");
  virtual bool storeInt(int value, const char* format = "%d");
  virtual bool storeUInt(unsigned int value, const char* format = "%u");
  virtual bool storeFloat(float value, const char* format = "%f");
  virtual bool storeDouble(double value, const char* format = "%f");
  virtual bool storeText(const std::string& value);
  virtual bool storeWideText(const WideText& value);
  virtual bool storeVector2(const Vector2& value, const char* format = "%f %f");
  virtual bool storeVector3(const Vector3& value, const char* format = "%f %f %f");
  virtual bool storeVector4(const Vector4& value, const char* format = "%f %f %f %f");
  virtual bool storeMatrix(const Matrix& value, const char* format = "%f %f %f");
  virtual bool storeBlock(BlockRef block);
  virtual bool storeBlobText(const std::string& bytes);

  // ---- Names (slots 45-48) ----
  virtual std::string encodeName(const std::string& text);
  virtual std::string decodeName(const std::string& text);
  virtual bool normaliseName();
  virtual bool hasValidName();

  // ---- Diagnostic replay of a path walk (slots 49-51) ----
  // Raises traceFlag for the duration of traceOpenSection(path).
  virtual void startTraceSection(const std::string& path);
  virtual void traceFindChild(const std::string& tag);
  virtual void traceOpenSection(const std::string& path);

  // ---- Non-virtual helpers over the interface ----
  // Walks a '/'-separated path; runs of slashes count as one and a trailing run is ignored.
  // With create, missing sections are appended with addChild. An empty path is this section.
  SectionRef openSection(const std::string& path, bool create = false,
                         SectionCreator* creator = nullptr);
  std::string readText(const std::string& path, const std::string& defaultValue);
  Vector3 readVector3At(const std::string& path, const Vector3& defaultValue);
  bool writeVector3At(const std::string& path, const Vector3& value, const char* format);
  ChildIterator begin() { return ChildIterator(this, 0); }
  ChildIterator end() { return ChildIterator(this, childCount()); }
  // Finds the section that stores path's leaf (see section_cache.h).
  static bool resolveParent(const std::string& path, SectionRef& parent, std::string& leafName);

 protected:
  // Matrices kept as four children "row0".."row3" of three floats each (text-based forms).
  Matrix readMatrixRows(const Matrix& defaultValue);
  bool writeMatrixRows(const Matrix& value, const char* format);
};
