// The stand-in host's sample formats read without error, and their data
// fields, in screen order, are the fields of the demo's hand-written field
// files: same names, same pictures, and each at the place in the host data
// where the field file's order puts it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "field_file_pairs.h"
#include "format_bytes.h"

using namespace fmt_test;

namespace {

// The data length a picture stands for ("X(8)", "X").
int PictureLength(const std::string &mask) {
    const size_t open = mask.find('(');
    return open == std::string::npos ? static_cast<int>(mask.size()) : std::atoi(mask.c_str() + open + 1);
}

TEST(SampleFormats, MatchTheDemoFieldFiles) {
    const char *src = std::getenv("QOR_SOURCE_DIR");
    ASSERT_NE(src, nullptr);
    for (const char *name : {"logon", "menu", "detail", "echo"}) {
        SCOPED_TRACE(name);
        const std::string bytes = Slurp(std::string(src) + "/testhost/samples/formats/" + name + ".t3z");
        const std::vector<std::string> expected = FieldFilePairs(Slurp(std::string(src) + "/demo/htx/" + name + ".t3i"));
        ASSERT_FALSE(bytes.empty());
        ASSERT_FALSE(expected.empty());

        CArcTFDFormat f;
        ASSERT_EQ(Read(f, bytes), Result::Success);
        std::string upper = name;
        for (char &c : upper) c = static_cast<char>(c - 'a' + 'A');
        EXPECT_EQ(f.GetFormatName(), upper);

        // Numbered in screen order, as the writers number them.
        CArcTFD::SetOfPointers_t sorted;
        for (int i = 0; i < f.GetFieldCount(); ++i) ASSERT_TRUE(sorted.Insert(f.GetFieldByIdx(i)));
        std::vector<std::string> got;
        int ordinal = 0, offset = 0;
        for (const CArcTFDDrawableField *field : sorted) {
            ++ordinal;
            const std::string pic = CArcTFDDrawableFieldMeta::GetFieldPicAX9(field);
            if (pic.empty()) continue;
            got.push_back(CArcTFDDrawableFieldMeta::GetFieldNameCStyle(field, ordinal) + "=" + CanonicalPicture(pic));
            const auto *data = dynamic_cast<const CArcTFDDataErrorField *>(field);
            ASSERT_NE(data, nullptr);
            EXPECT_EQ(data->GetDataOffset(), offset) << got.back();
            offset += PictureLength(pic);
        }
        EXPECT_EQ(got, expected);
        EXPECT_EQ(offset, f.GetFormatHdrPeeker()->GetDataBytes());
        EXPECT_EQ(f.GetTotalLengthOfDataFields(), offset);
    }
}

}  // namespace
