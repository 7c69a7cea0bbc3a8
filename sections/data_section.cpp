#include "sections/data_section.h"

#include "sections/section_cache.h"
#include "sections/section_factory.h"
#include "sections/section_forms.h"
#include "sections/trace_flag.h"

namespace {

const char* const kRowNames[4] = {"row0", "row1", "row2", "row3"};

// Position of the first character after the run of slashes that starts at `slash`.
size_t skipSlashes(const std::string& path, size_t slash) {
  return path.find_first_not_of('/', slash);
}

}  // namespace

// ---- ChildIterator ----

SectionRef ChildIterator::operator*() const {
  SectionRef child = section_->childAt(index_);
  if (child) return child;
  BlockRef empty(new BinaryBlock(nullptr, 0, kDataSectionLabel));
  return makeBinSection(section_->childNameAt(index_), empty);
}

std::string ChildIterator::name() const { return section_->childNameAt(index_); }

// ---- DataSection base behaviour ----

DataSection::~DataSection() { removeFromSectionCache(this); }

int DataSection::indexOfChild(const SectionRef& child) {
  const int count = childCount();
  for (int i = 0; i < count; ++i)
    if (childAt(i) == child) return i;
  return -1;
}

std::string DataSection::childNameAt(int index) {
  SectionRef child = childAt(index);
  return child ? child->name() : std::string();
}

SectionRef DataSection::insertChild(const std::string&, int) { return SectionRef(); }
bool DataSection::storeChild(SectionRef, bool) { return false; }
void DataSection::setOwner(const SectionRef&) {}
SectionRef DataSection::convertSection(const std::string&, const SectionRef&) {
  return SectionRef(this);
}
bool DataSection::isStructured() { return true; }

void DataSection::collectChildren(const std::string& path, std::vector<SectionRef>& out) {
  const size_t slash = path.find('/');
  const size_t rest = slash == std::string::npos ? std::string::npos : skipSlashes(path, slash);
  if (rest != std::string::npos) {
    if (SectionRef child = findChild(path.substr(0, slash), nullptr))
      child->collectChildren(path.substr(rest), out);
    return;
  }
  for (ChildIterator it = begin(), stop = end(); it != stop; ++it)
    if (it.name() == path) out.push_back(*it);
}

bool DataSection::getBool(bool defaultValue) { return defaultValue; }
int DataSection::getInt(int defaultValue) { return defaultValue; }
long DataSection::getLong(long defaultValue) { return defaultValue; }
float DataSection::getFloat(float defaultValue) { return defaultValue; }
double DataSection::getDouble(double defaultValue) { return defaultValue; }
std::string DataSection::getText(const std::string& defaultValue, int) { return defaultValue; }
WideText DataSection::getWideText(const WideText& defaultValue, int) { return defaultValue; }
Vector2 DataSection::getVector2(const Vector2& defaultValue) { return defaultValue; }
Vector3 DataSection::getVector3(const Vector3& defaultValue) { return defaultValue; }
Vector4 DataSection::getVector4(const Vector4& defaultValue) { return defaultValue; }
Matrix DataSection::getMatrix(const Matrix& defaultValue) { return defaultValue; }
BlockRef DataSection::getBlock() { return BlockRef(); }
std::string DataSection::getBlobText(const std::string& defaultValue) { return defaultValue; }

bool DataSection::storeBool(bool, const char*) { return false; }
bool DataSection::storeInt(int, const char*) { return false; }
bool DataSection::storeUInt(unsigned int, const char*) { return false; }
bool DataSection::storeFloat(float, const char*) { return false; }
bool DataSection::storeDouble(double, const char*) { return false; }
bool DataSection::storeText(const std::string&) { return false; }
bool DataSection::storeWideText(const WideText&) { return false; }
bool DataSection::storeVector2(const Vector2&, const char*) { return false; }
bool DataSection::storeVector3(const Vector3&, const char*) { return false; }
bool DataSection::storeVector4(const Vector4&, const char*) { return false; }
bool DataSection::storeMatrix(const Matrix&, const char*) { return false; }
bool DataSection::storeBlock(BlockRef) { return false; }
bool DataSection::storeBlobText(const std::string&) { return false; }

std::string DataSection::encodeName(const std::string& text) { return text; }
std::string DataSection::decodeName(const std::string& text) { return text; }
bool DataSection::normaliseName() { return false; }
bool DataSection::hasValidName() { return true; }

// ---- Tracing ----

void DataSection::startTraceSection(const std::string& path) {
  debugTrace("----------------start trace section: " + path + "\n");
  TraceFlagScope raised;
  traceOpenSection(path);
}

void DataSection::traceFindChild(const std::string& tag) {
  debugTrace(">>>traceFindChild: " + tag + "\n");
}

void DataSection::traceOpenSection(const std::string& path) {
  debugTrace(">>>traceOpenSection: " + path + "\n");
  if (path.empty()) {
    debugTrace("tag is empty, return this.\n");
    return;
  }
  const size_t slash = path.find('/');
  if (slash != std::string::npos) {
    const std::string head = path.substr(0, slash);
    debugTrace("findChild(" + head + ")\n");
    traceFindChild(head);
    SectionRef child = findChild(head, nullptr);
    if (!child) {
      debugTrace("can not find child: " + head + "\n");
      return;
    }
    const size_t rest = skipSlashes(path, slash);
    if (rest == std::string::npos) {
      debugTrace("The string ended with a slash, return pChild\n");
      return;
    }
    debugTrace("openSection(" + path.substr(rest) + ")\n");
    child->traceOpenSection(path.substr(rest));
  }
  debugTrace("Then find that single child section:" + path + "\n");
  traceFindChild(path);
  SectionRef found = findChild(path, nullptr);
  debugTrace(found ? "return pChild, pChild: " + found->name() + "\n"
                   : std::string("return pChild, pChild is NULL.\n"));
}

// ---- Path walk and helpers ----

SectionRef DataSection::openSection(const std::string& path, bool create,
                                    SectionCreator* creator) {
  if (path.empty()) return SectionRef(this);
  const size_t slash = path.find('/');
  if (slash == std::string::npos) {
    SectionRef child = findChild(path, creator);
    if (!child && create) child = addChild(path, creator);
    return child;
  }
  const std::string head = path.substr(0, slash);
  SectionRef child = findChild(head, nullptr);
  if (!child) {
    if (!create) return SectionRef();
    child = addChild(head, nullptr);
    if (!child) return SectionRef();
  }
  const size_t rest = skipSlashes(path, slash);
  if (rest == std::string::npos) return child;
  return child->openSection(path.substr(rest), create, creator);
}

std::string DataSection::readText(const std::string& path, const std::string& defaultValue) {
  SectionRef section = openSection(path, false);
  return section ? section->getText(defaultValue, 0) : defaultValue;
}

Vector3 DataSection::readVector3At(const std::string& path, const Vector3& defaultValue) {
  SectionRef section = openSection(path, false);
  return section ? section->getVector3(defaultValue) : defaultValue;
}

bool DataSection::writeVector3At(const std::string& path, const Vector3& value,
                                 const char* format) {
  SectionRef section = openSection(path, true);
  return section ? section->storeVector3(value, format) : false;
}

bool DataSection::resolveParent(const std::string& path, SectionRef& parent,
                                std::string& leafName) {
  return ::resolveParent(path, parent, leafName);
}

Matrix DataSection::readMatrixRows(const Matrix& defaultValue) {
  Matrix result;
  result.m[3][3] = 1.0f;
  for (int row = 0; row < 4; ++row) {
    const float* d = defaultValue.m[row];
    Vector3 v = readVector3At(kRowNames[row], Vector3{d[0], d[1], d[2]});
    result.m[row][0] = v.x;
    result.m[row][1] = v.y;
    result.m[row][2] = v.z;
  }
  return result;
}

bool DataSection::writeMatrixRows(const Matrix& value, const char* format) {
  bool allStored = true;
  for (int row = 0; row < 4; ++row) {
    const float* r = value.m[row];
    allStored = writeVector3At(kRowNames[row], Vector3{r[0], r[1], r[2]}, format) && allStored;
  }
  return allStored;
}
