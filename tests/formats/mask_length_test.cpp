// Host edit masks of every shape: the field file the converter writes for a
// numeric edited field, read back through the template toolkit's field
// reader, places the field and every field after it on the host's own
// bytes (the reader's length equals the digits the converter counts).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>

#include "ArcTFDFieldMeta.h"
#include "ZelMCSConverter.h"
#include "format_bytes.h"
#include "xfcgihtml.h"
#include "xfcgit3i.h"

using namespace fmt_test;

namespace {

struct Shape {
    const char *what;
    std::string mask;     // the host's mask bytes
    int edit;             // edit byte: decimals, sign type, floating currency
    int digits;           // digits the host keeps
    int shown;            // digit positions the mask shows
    const char *picture;  // the field's picture (the field file cuts a mask
                          // with more digits than the host keeps)
};

const TemplateField *Named(const TemplateFieldTable &table, const std::string &name) {
    for (const TemplateField &f : table)
        if (f.name == name) return &f;
    return nullptr;
}

}  // namespace

TEST(MaskLength, ReaderAndConverterAgreeForEveryMaskShape) {
    const std::string nul(1, '\0');
    const Shape shapes[] = {
        {"simple", "ZZZ9", 0, 4, 4, "ZZZ9"},
        {"NUL padding", "ZZZ9" + nul + nul + nul + nul, 0, 4, 4, "ZZZ9"},
        {"blank padding", "ZZ9    ", 0, 3, 3, "ZZ9"},
        {"a run of commas", "Z,,,,9", 0, 2, 2, "Z,,,,9"},
        {"a run of digits", "ZZZZZZ9", 0, 7, 7, "Z(6)9"},
        {"decimals", "ZZ9.99", 2, 5, 5, "ZZ9.99"},
        {"wider host number", "ZZ9.99", 2, 7, 5, "ZZ9.99"},
        {"narrower host number", "Z,ZZZ,ZZ9.99", 2, 6, 6, "Z,ZZZ,ZZ9.99"},
        {"a date", "99/99/99", 0, 6, 6, "99/99/99"},
        {"a time", "99:99", 0, 4, 4, "99:99"},
        {"digits of one kind", "9999", 0, 4, 4, "9(4)"},
        {"other bytes, a NUL ends the mask", "Z9X" + nul + "9A", 0, 3, 2, "Z9"},
        {"leading minus and currency", "ZZZZ9", 0x90, 5, 5, "S$Z(4)9"},
        {"no digit at all", "..,,", 0, 3, 0, ""},
    };
    for (const Shape &s : shapes) {
        SCOPED_TRACE(s.what);
        const std::string area = B({static_cast<int>(s.mask.size()), 0x4C, 0, s.edit, s.digits}) + s.mask +
                                 B({3, 0x42, 0});
        mkdir("masks", 0755);
        std::remove("masks/test.t3i");
        CZelMCSConverter c;
        c.SetOutputDirectory("masks");
        CBuffer b;
        const std::string bytes = Format(area);
        b.AddChars(bytes.data(), static_cast<int>(bytes.size()));
        ASSERT_EQ(c.Convert(b), Result::Success);

        tcpHTML page;
        ASSERT_EQ(xFcgiLoadDataDesc(&page, "masks/test.t3i", false), 1);
        const TemplateField *number = Named(page.mainFields, "field_001");
        const TemplateField *after = Named(page.mainFields, "field_002");
        ASSERT_NE(after, nullptr);
        EXPECT_EQ(after->location, s.digits) << "the next field on its host bytes";
        EXPECT_EQ(after->length, 3u);
        EXPECT_EQ(page.screenSize, s.digits + 3);
        if (!s.shown) {
            EXPECT_EQ(number, nullptr);
            continue;
        }
        ASSERT_NE(number, nullptr);
        EXPECT_EQ(number->length, static_cast<uint32_t>(s.shown));
        EXPECT_EQ(number->location + number->length, static_cast<uint32_t>(s.digits)) << "right-aligned";
        EXPECT_EQ(number->decimals, s.edit & 0x0F);

        CArcTFDFormat format;
        ASSERT_EQ(Read(format, bytes), Result::Success);
        EXPECT_EQ(CArcTFDDrawableFieldMeta::GetFieldPicAX9(format.GetFieldByIdx(0)), s.picture);
        EXPECT_EQ(format.GetFieldByIdx(0)->GetLength(), static_cast<int>(s.mask.size()))
            << "the field keeps its screen length";
    }
}
