// fuzz-libs: qor_formats qor_foundation qor_xfcgi qor_xml qor_arc
// The converter over arbitrary format bytes, writing into a temporary
// folder: a conversion either fails and writes nothing, or writes a page
// no larger than the limit of its header's screen, with no more fields
// than the screen has cells, that the template compiler takes without a
// single error (host text can never become markup or a placeholder) and a
// field file the field-table reader loads, in which every field the host
// sends data for lies on its own host bytes (its picture and the digits its
// mask hides cover exactly the data offset and length the format reader
// found), whatever the host's edit masks hold.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "ArcTFDCollections.h"
#include "ArcTFDDataField.h"
#include "ArcTFDFieldMeta.h"
#include "ArcTFDFormatSaver.h"
#include "ZelBuffer.h"
#include "ZelMCSConverter.h"
#include "logprint.h"
#include "xfcgihtml.h"
#include "xfcgit3i.h"

namespace {

CZelMCSConverter *s_converter;
std::string s_dir;

bool Exists(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string Slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Aborts unless each host data field's bytes are where the field file's
// reader places the field.
void CheckPlaces(const CArcTFDFormat &format, const tcpHTML &page) {
    const TemplateFieldTable &placed = page.towebFields.empty() ? page.mainFields : page.towebFields;
    std::vector<CArcTFDDrawableField *> sorted;
    for (int i = 0; i < format.GetFieldCount(); ++i) sorted.push_back(format.GetFieldByIdx(i));
    std::stable_sort(sorted.begin(), sorted.end(), CArcTFD::CArcTFDFldCompare());
    for (size_t i = 0; i < sorted.size(); ++i) {
        const auto *data = dynamic_cast<const CArcTFDDataErrorField *>(sorted[i]);
        if (!data || data->IsInputOnly() || data->GetDataOffset() < 0 || data->GetDataLength() <= 0) continue;
        if (CArcTFDDrawableFieldMeta::GetFieldPicAX9(sorted[i]).empty()) continue;
        const std::string name = CArcTFDDrawableFieldMeta::GetFieldNameCStyle(sorted[i], static_cast<int>(i) + 1);
        const TemplateField *f = nullptr;
        for (const TemplateField &t : placed)
            if (t.name == name) f = &t;
        if (!f) std::abort();
        const long start = static_cast<long>(f->location) - f->hidden;
        const long end = static_cast<long>(f->location) + static_cast<long>(f->length);
        if (start != data->GetDataOffset() || end != data->GetDataOffset() + data->GetDataLength()) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    logOptions("qt");
    logOpen("/dev/null", 0);
    char pattern[] = "/tmp/fuzzconvXXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    s_dir = pattern;
    s_converter = new CZelMCSConverter;
    s_converter->SetOutputDirectory(s_dir);
    std::atexit([] { std::system(("rm -rf '" + s_dir + "'").c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1 || size > (1 << 16)) return 0;
    // The first byte chooses the field-control level.
    s_converter->SetFccModsStyle(static_cast<FccModsLevel>(data[0] % 3));
    CBuffer bytes(reinterpret_cast<const char *>(data + 1), static_cast<int>(size - 1));
    const std::string htx = s_dir + "/fuzz.htx", t3i = s_dir + "/fuzz.t3i";
    const Result r = s_converter->Convert(bytes, "FUZZ");
    if (r != Result::Success) {
        if (Exists(htx) || Exists(t3i)) std::abort();
        return 0;
    }
    tcpHTML page;
    page.path = htx;
    page.text = Slurp(htx);
    const int cells = s_converter->GetFormat().GetFormatHdrPeeker()->GetScreenCells();
    if (page.text.size() > CArcTFDFormatSaver::PageSizeLimit(cells)) std::abort();
    if (s_converter->GetFormat().GetFieldCount() > cells) std::abort();
    FILE *messages = std::fopen("/dev/null", "w");
    xFcgiCompileTemplate(page, messages);
    std::fclose(messages);
    if (page.errors != 0 || page.text.find("</HTML>") == std::string::npos) std::abort();
    if (!Slurp(t3i).empty() && xFcgiLoadDataDesc(&page, t3i.c_str(), false) != 1) std::abort();
    CheckPlaces(s_converter->GetFormat(), page);
    std::remove(htx.c_str());
    std::remove(t3i.c_str());
    return 0;
}
