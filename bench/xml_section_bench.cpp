// Parsing and writing speed of XML section text: a generated configuration text of about
// 8 MiB (nested elements, entities, comments, attributes) parsed in place, parsed through the
// factory on a copy, walked by path, and written back.
// Usage: xml_section_bench [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "sections/section_factory.h"
#include "sections/xml_parser.h"

namespace {

double seconds(const std::function<void()>& work) {
  auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Warm-up once, then `runs` timed runs; the median.
double measure(int runs, const std::function<void()>& work) {
  work();
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) times.push_back(seconds(work));
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

std::string makeText(int groups, int& elements) {
  std::string text = "<?xml version=\"1.0\"?>\n<config>\n";
  elements = 1;
  for (int g = 0; g < groups; ++g) {
    text += "\t<group id=\"" + std::to_string(g) + "\">\n\t\t<!-- group " + std::to_string(g) +
            " -->\n";
    for (int i = 0; i < 8; ++i) {
      text += "\t\t<item_" + std::to_string(i) + ">\tvalue " + std::to_string(g * 8 + i) +
              " &amp; more &#65;\t</item_" + std::to_string(i) + ">\n";
    }
    text += "\t\t<position>1.5 2.5 3.5</position>\n\t\t<flag/>\n\t</group>\n";
    elements += 11;
  }
  return text + "</config>\n";
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
  int elements = 0;
  const std::string text = makeText(22000, elements);
  const double mib = static_cast<double>(text.size()) / (1 << 20);
  std::printf("text: %.2f MiB, %d elements, median of %d runs\n", mib, elements, runs);

  BlockRef source = BinaryBlock::fromString(text, "BinaryBlock/DataSection");
  const double copyTime = measure(runs, [&] {
    BlockRef copy(new BinaryBlock(source->data(), source->length(), "BinaryBlock/DataSection"));
  });
  const double inPlace = measure(runs, [&] {
    BlockRef copy(new BinaryBlock(source->data(), source->length(), "BinaryBlock/DataSection"));
    if (!parseXmlSection("config", copy)) std::abort();
  }) - copyTime;
  std::printf("parse in place:        %8.1f MiB/s  %6.1f M elements/s\n", mib / inPlace,
              elements / inPlace / 1e6);

  const double viaFactory = measure(runs, [&] {
    if (!sectionFromBlock("config", source, false)) std::abort();
  });
  std::printf("factory on a copy:     %8.1f MiB/s (copy included)\n", mib / viaFactory);

  SectionRef tree = parseXmlSection("config", BinaryBlock::fromString(text, "bench"));
  double sum = 0;
  const double walk = measure(runs, [&] {
    for (int i = 0; i < tree->childCount(); ++i) {
      SectionRef group = tree->childAt(i);
      sum += group->readText("item_3", "").size() + group->readVector3At("position", {}).x;
    }
  });
  std::printf("path reads:            %8.1f M reads/s (checksum %.0f)\n",
              2.0 * tree->childCount() / walk / 1e6, sum);

  size_t written = 0;
  const double write = measure(runs, [&] { written = tree->getBlock()->length(); });
  std::printf("write as text:         %8.1f MiB/s (%.2f MiB)\n",
              static_cast<double>(written) / (1 << 20) / write,
              static_cast<double>(written) / (1 << 20));
  return 0;
}
