// bench-libs: qor_formats qor_foundation qor_arc
// Reading a host screen format into form fields, and converting it into a
// page and a field file (reading included), as the gateway does when it
// converts a screen on the spot: a 24x80 format of about 60 fields
// (labels, alpha, numeric and edited fields, gaps, one repeated line).
#include <benchmark/benchmark.h>

#include <string>

#include <stdlib.h>

#include "ArcTFDFormat.h"
#include "ArcTFDFormatSaver.h"
#include "ArcTFDIntConnFilesInfo.h"
#include "ZelBuffer.h"
#include "ZelMCSConverter.h"

namespace {

std::string Bytes(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

// Twelve rows of label, name, gap, label and amount, a repeated line of
// three items, headings and a message line.
std::string ScreenFormat() {
    std::string area = Bytes({28, 0x93, 0}) + "ORDER ENTRY - CUSTOMER LINES" + Bytes({8, 0x97, 0, 5, 0x98, 0, 0, 0x14, 0});
    for (int row = 0; row < 12; ++row) {
        const std::string label = "LINE " + std::to_string(10 + row) + ":";
        area += Bytes({static_cast<int>(label.size()), 0x93, 0}) + label;
        area += Bytes({20, 0x42, 0, 0xC3});
        area += Bytes({4, 0x93, 0}) + "AMT:";
        area += Bytes({10, 0x4C, 0, 0x12, 8}) + "ZZZ,ZZ9.99";
        area += Bytes({0, 0x14, 0});
    }
    area += Bytes({6, 0x4A, 0, 0xC2, 3, 0x42, 0x40}) + "ABC" + Bytes({2, 0x14, 0});
    area += Bytes({4, 0x12, 0, 0, 0x14, 0, 60, 0x82, 5});
    std::string name = "ORDERS01";
    return Bytes({0, 0, 0, 0, 0, 40, 0, 20, 24, 80, 0, 0}) + name + name +
           Bytes({0x01, 0, ':', 1, 3, 12, 0, 0, 0, 0, static_cast<int>(area.size() >> 8),
                  static_cast<int>(area.size() & 255), 3, 2, 2, 4, 0, 0, 0, 0}) +
           area;
}

void BM_ReadScreenFormat(benchmark::State &state) {
    const std::string bytes = ScreenFormat();
    CArcTFDFormat format;   // one format object reused, as the converter keeps one
    int fields = 0;
    for (auto _ : state) {
        CBuffer b(bytes.data(), static_cast<int>(bytes.size()));
        if (format.ReadFromBuffer(b) != Result::Success) state.SkipWithError("format not read");
        fields = format.GetFieldCount();
        benchmark::DoNotOptimize(fields);
    }
    state.counters["fields"] = fields;
    state.SetItemsProcessed(state.iterations() * fields);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_ReadScreenFormat);

// The whole conversion: reading, laying out both files and writing them
// through temporary names into a folder.
void BM_ConvertScreenFormat(benchmark::State &state) {
    const std::string bytes = ScreenFormat();
    char dir[] = "/tmp/benchconvXXXXXX";
    if (!mkdtemp(dir)) {
        state.SkipWithError("no folder");
        return;
    }
    CZelMCSConverter converter;
    converter.SetOutputDirectory(dir);
    for (auto _ : state) {
        CBuffer b(bytes.data(), static_cast<int>(bytes.size()));
        if (converter.Convert(b) != Result::Success) state.SkipWithError("not converted");
    }
    state.counters["fields"] = converter.GetFormat().GetFieldCount();
    std::system((std::string("rm -rf ") + dir).c_str());
}
BENCHMARK(BM_ConvertScreenFormat);

// The texts of the two files alone (no reading, no file system).
void BM_WritePageAndFieldFile(benchmark::State &state) {
    const std::string bytes = ScreenFormat();
    CArcTFDFormat format;
    CBuffer b(bytes.data(), static_cast<int>(bytes.size()));
    format.ReadFromBuffer(b);
    format.SetIntConnFileHTMLType(CArcTFDFormatSaver::LayoutTable);
    CArcTFDIntConnFilesInfo files;
    size_t size = 0;
    for (auto _ : state) {
        CArcTFDFormatSaver saver(&format);
        saver.SortFields(0);
        const std::string t3i = saver.GetT3IText();
        const std::string htx = saver.GetHTXText(&files);
        size = t3i.size() + htx.size();
        benchmark::DoNotOptimize(size);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
}
BENCHMARK(BM_WritePageAndFieldFile);

}  // namespace

BENCHMARK_MAIN();
