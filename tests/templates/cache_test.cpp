// Template lookup, the document root, loading with the companion field
// file, reloading changed files and the bounds of the template cache.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include "template_util.h"

namespace {

class TemplateCache : public ::testing::Test {
protected:
    void SetUp() override {
        tpl::freshState();
        unsetenv("DOCUMENT_ROOT");
    }
    void TearDown() override {
        unsetenv("DOCUMENT_ROOT");
        tpl::freshState();
    }
    // Gives a file a modification time of its own, as a later rewrite would.
    static void touch(const std::string& path, long seconds) {
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = seconds;
        times[0].tv_nsec = times[1].tv_nsec = 0;
        utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
    tpl::ScratchDir dir_;
};

TEST_F(TemplateCache, DocumentRootAndCandidatePaths) {
    EXPECT_STREQ(xFcgiDocRoot(nullptr), "/usr/local/apache/htdocs");
    xFcgiDocRootReset();
    setenv("DOCUMENT_ROOT", "/srv/www", 1);
    EXPECT_EQ(xFcgiTemplatePath("page.htx"), "/srv/www/htmltmpl/page.htx");
    EXPECT_EQ(xFcgiTemplatePath("./x/page.htx"), "./x/page.htx");
    EXPECT_EQ(xFcgiTemplatePath("/abs/page.htx"), "/abs/page.htx");
    // A root of the program's own: templates lie directly under it.
    EXPECT_STREQ(xFcgiDocRoot("/opt\\site"), "/opt/site");
    EXPECT_STREQ(xFcgiTemplateDir(), "");
    EXPECT_EQ(xFcgiTemplatePath("page.htx"), "/opt/site/page.htx");
    EXPECT_STREQ(xFcgiDocRoot("relative"), "/opt/site");  // not used
    xFcgiDocRootReset();
    EXPECT_STREQ(xFcgiDocRoot(nullptr), "/srv/www");
    EXPECT_STREQ(xFcgiTemplateDir(), "htmltmpl");
}

TEST_F(TemplateCache, OpenTemplateReturnsThePathFound) {
    std::string p = dir_.write("a.htx", "12345");
    std::string found;
    FILE* f = xFcgiOpenTemplate(p, "r", found);
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_EQ(found, p);
    EXPECT_EQ(xFcgiLastFileSize(), 5);
    EXPECT_GT(xFcgiLastFileTime(), 0);
    EXPECT_EQ(xFcgiOpenTemplate(dir_.file("none.htx"), "r", found), nullptr);
    EXPECT_EQ(xFcgiLastFileSize(), 0);
    EXPECT_EQ(xFcgiLastFileTime(), -1);
    // A FIFO is not waited on.
    ASSERT_EQ(mkfifo(dir_.file("fifo.htx").c_str(), 0600), 0);
    EXPECT_EQ(xFcgiOpenTemplate(dir_.file("fifo.htx"), "r", found), nullptr);
}

TEST_F(TemplateCache, CompiledOnceAndFoundUnderTheDocumentRoot) {
    dir_.write("page.htx", "<p>\\{x}</p>");
    xFcgiDocRoot(dir_.path().c_str());
    tcpHTML* t = xFcgiGetFT("page.htx");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->path, dir_.file("page.htx"));
    EXPECT_EQ(t->segments.size(), 3u);
    EXPECT_EQ(xFcgiGetFT("page.htx"), t);
    EXPECT_EQ(xFcgiCacheCount(), 1);
    EXPECT_EQ(xFcgiCacheBytes(), static_cast<int>(t->text.size()));
    EXPECT_EQ(xFcgiGetFT("missing.htx"), nullptr);
}

TEST_F(TemplateCache, ChangedFileIsCompiledAgainAfterTheCheckInterval) {
    std::string p = dir_.write("v.htx", "one");
    touch(p, 1000000);
    tcpHTML* t = xFcgiGetFT(p.c_str());
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->text, "one");
    dir_.write("v.htx", "two");
    touch(p, 2000000);
    // Compared with its file less than 3 seconds ago: still the old text.
    EXPECT_EQ(xFcgiGetFT(p.c_str())->text, "one");
    xFcgiSetTemplateCheckInterval(0);
    tcpHTML* again = xFcgiGetFT(p.c_str());
    EXPECT_EQ(again, t);  // the record is reused
    EXPECT_EQ(again->text, "two");
    EXPECT_EQ(xFcgiCacheCount(), 1);

    // Within the interval, a caller that has seen the file's new time gets
    // the new text at once.
    xFcgiSetTemplateCheckInterval(3);
    dir_.write("v.htx", "three");
    touch(p, 3000000);
    EXPECT_EQ(xFcgiGetFT(p.c_str(), 3000000LL * 1000000000)->text, "three");
}

// The field file is confirmed with its page: changed, removed, added or
// replaced by a FIFO, the page is compiled again once the interval passed.
TEST_F(TemplateCache, ChangedFieldFileIsReadAgainAfterTheCheckInterval) {
    const std::string p = dir_.write("f.htx", "\\{a}");
    const std::string t3i = dir_.file("f.t3i");
    auto fields = [&](const char* mask) {
        dir_.write("f.t3i", std::string("<record type=\"toweb\"><field name=\"a\" mask=\"") + mask +
                                "\"/></record>");
    };
    fields("X(20)");
    touch(t3i, 1000000);
    tcpHTML* t = xFcgiGetFT(p.c_str());
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->towebFields.size(), 1u);
    EXPECT_EQ(t->towebFields[0].length, 20u);
    fields("X(10)");
    touch(t3i, 2000000);
    EXPECT_EQ(xFcgiGetFT(p.c_str())->towebFields[0].length, 20u);  // within the interval
    xFcgiSetTemplateCheckInterval(0);
    // Also for a caller that has seen the page's own time unchanged.
    EXPECT_EQ(xFcgiGetFT(p.c_str(), t->fileTime), t);
    EXPECT_EQ(t->towebFields[0].length, 10u);
    ASSERT_EQ(unlink(t3i.c_str()), 0);
    EXPECT_TRUE(xFcgiGetFT(p.c_str())->t3iPath.empty());
    fields("X(5)");
    EXPECT_EQ(xFcgiGetFT(p.c_str())->towebFields[0].length, 5u);
    ASSERT_EQ(unlink(t3i.c_str()), 0);
    ASSERT_EQ(mkfifo(t3i.c_str(), 0600), 0);
    EXPECT_TRUE(xFcgiGetFT(p.c_str())->flags & tcpHTML::kFieldFileRefused);
    EXPECT_EQ(xFcgiCacheCount(), 1);
}

TEST_F(TemplateCache, LimitEvictsTheLeastRecentlyLoaded) {
    std::string a = dir_.write("a.htx", std::string(1000, 'a'));
    std::string b = dir_.write("b.htx", std::string(1000, 'b'));
    std::string c = dir_.write("c.htx", std::string(1000, 'c'));
    xFcgiTemplateCache(2500);
    ASSERT_NE(xFcgiGetFT(a.c_str()), nullptr);
    ASSERT_NE(xFcgiGetFT(b.c_str()), nullptr);
    ASSERT_NE(xFcgiGetFT(c.c_str()), nullptr);
    EXPECT_EQ(xFcgiCacheCount(), 2);
    EXPECT_EQ(xFcgiCacheBytes(), 2000);
    EXPECT_EQ(xFcgiCacheFind(a), nullptr);

    // A template in use stays, whatever the limit.
    tcpHTML* held = xFcgiCacheFind(b);
    ASSERT_NE(held, nullptr);
    {
        TemplateInUse use(held);
        xFcgiTemplateCache(0);
        EXPECT_EQ(xFcgiCacheCount(), 1);
        EXPECT_EQ(xFcgiCacheFind(b), held);
        EXPECT_TRUE(held->flags & tcpHTML::kInUse);
    }
    xFcgiTemplateCache(0);
    EXPECT_EQ(xFcgiCacheCount(), 0);
    EXPECT_EQ(xFcgiCacheBytes(), 0);
    // With the limit at 0 every compilation is dropped again.
    EXPECT_EQ(xFcgiGetFT(a.c_str()), nullptr);
}

TEST_F(TemplateCache, CompanionFieldFileInToolMode) {
    std::string sub = dir_.path() + "/d.x";
    mkdir(sub.c_str(), 0755);
    dir_.write("d.x/page", "\\{a}");
    dir_.write("d.x/page.t3i",
               "<record type=\"toweb\"><field name=\"a\" mask=\"X(3)\"/>"
               "<field name=\"b\" mask=\"9(2)\" occurs=\"2\"/></record>");
    std::string p = sub + "/page";
    ASSERT_EQ(xFcgiLoadTemplate(p.c_str(), nullptr, nullptr, true), 1);
    tcpHTML* t = xFcgiCacheFind(p);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->t3iPath, p + ".t3i");
    ASSERT_EQ(t->mainFields.size(), 2u);  // the toweb table moved
    EXPECT_TRUE(t->towebFields.empty());
    EXPECT_EQ(t->mainFields[0].occurrences, 1);
    EXPECT_EQ(t->segments[0].size, 3);  // sized from the table

    dir_.write("other.htx", "x");
    std::string o = dir_.file("other.htx");
    testing::internal::CaptureStdout();
    ASSERT_EQ(xFcgiLoadTemplate(o.c_str(), nullptr, nullptr, true), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Could not find T3I file: " + dir_.file("other.t3i") + "\n");
    dir_.write("html-x.htx", "x");
    std::string h = dir_.file("html-x.htx");
    testing::internal::CaptureStdout();
    xFcgiLoadTemplate(h.c_str(), nullptr, nullptr, true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(TemplateCache, ListingOfTheSegments) {
    std::string p = dir_.write("l.htx", "a\\{x SIZE=3}<!--#IF EXPR=\"x\"-->b<!--#ENDIF-->");
    char* buf = nullptr;
    size_t len = 0;
    FILE* f = open_memstream(&buf, &len);
    ASSERT_EQ(xFcgiLoadTemplate(p.c_str(), nullptr, f, false), 1);
    std::fclose(f);
    std::string listing(buf, len);
    std::free(buf);
    EXPECT_EQ(listing.find("\nDump of " + p + ";\nText size 45 in 5 segments plus 0 data\n"), 0u)
        << listing;
    EXPECT_NE(listing.find("   1. Variable 'x' size=3 Output App"), std::string::npos) << listing;
    EXPECT_NE(listing.find("   2. If '' size=0"), std::string::npos) << listing;
}

}  // namespace
