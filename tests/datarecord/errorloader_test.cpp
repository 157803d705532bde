// The err.* fields that error and program-end pages get.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DataRecord.h"
#include "ZelBuffer.h"
#include "ZelErrorLoader.h"

namespace {

std::string Read(const CDataRecord &r, const std::string &name) {
    CBuffer empty;
    std::string out;
    r.GetStringValue(out, &empty, name, 1);
    return out;
}

}  // namespace

TEST(ErrorLoader, CodeAdministratorAndConstants) {
    CDataRecord r;
    CZelErrorLoader loader(&r);
    EXPECT_EQ(loader.LoadErrorFields(Result::CommClosed, "admin@example.org"), Result::Success);
    EXPECT_EQ(Read(r, "err.code"), "-1009");
    EXPECT_EQ(Read(r, "err.CommClosed"), "-1009");
    EXPECT_EQ(Read(r, "err.administrator"), "admin@example.org");
    EXPECT_EQ(Read(r, "err.ConfigurationChanged"), "2");
    EXPECT_EQ(Read(r, "err.SessTblNoCleanerProcess"), "4001");
    EXPECT_EQ(Read(r, "err.QorNoMem"), "-5007");
    EXPECT_EQ(r.FindItem("err.administrator")->GetSize(), 50u);
    EXPECT_EQ(r.FindItem("err.code")->GetSize(), 6u);
    EXPECT_EQ(r.GetSize(), 50u + 6 + 51 * 6);
}

TEST(ErrorLoader, FieldsInOrder) {
    CDataRecord r;
    CZelErrorLoader(&r).LoadErrorFields(Result::Unknown, nullptr);
    const std::vector<std::string> expected = {
        "err.administrator", "err.code",
        "err.configurationchanged 2", "err.unknown -1", "err.filenotfound -2",
        "err.notimplemented -3", "err.nomemory -4", "err.noresource -5", "err.badformat -6",
        "err.invalidparam -7", "err.appgeneric -100", "err.commtransterminated 1001",
        "err.communexpectedaccept 1002", "err.commgeneric -1000", "err.commdisconnected -1001",
        "err.commkeepalive -1002", "err.commreadlen -1003", "err.commbaddtpreply -1004",
        "err.commnohost -1005", "err.commbadlocapqor -1006", "err.commbadlocapic -1007",
        "err.commqornotactive -1008", "err.commclosed -1009",
        "err.commscreenformatnotfound -1010", "err.formatgeneric -2000",
        "err.formatunknownerror -2001", "err.formatfilereaderror -2002",
        "err.formatconversionerror -2003", "err.parsergeneric -3000",
        "err.parserfilenotfound -3001", "err.parserbaddatarecord -3002",
        "err.parserbadmcsdata -3003", "err.parserinvalidcachepath -3004",
        "err.parserinvalidregularstorepath -3005", "err.sesstblnocleanerprocess 4001",
        "err.sesstblrecordlocked 4002", "err.sesstblipcerror -4000",
        "err.sesstbllockerror -4001", "err.sesstbllockfileerror -4002",
        "err.sesstblshmattacherror -4003", "err.sesstblfull -4004",
        "err.sesstblinvalidsessid -4005", "err.sesstblstopcleanerprocess -4006",
        "err.sesstbllatestmcsdatadir -4007", "err.sesstbllatestmcsdatafile -4008",
        "err.sesstblinvalidsessguid -4009", "err.qoraborted -5001", "err.qoreof -5002",
        "err.qorio -5003", "err.qorsecurity -5004", "err.qornotfound -5005",
        "err.qortimeout -5006", "err.qornomem -5007"};
    std::vector<std::string> got;
    unsigned offset = 0;
    for (const CDataItem *i = r.GetRoot(); i; i = i->GetNext()) {
        EXPECT_TRUE(i->IsTypeOf(CDataItem::TypeAny));
        EXPECT_EQ(i->GetOffset(), offset);
        offset += i->GetSize();
        std::string entry = i->GetName();
        if (got.size() >= 2) entry += " " + i->GetDefaultValue();
        got.push_back(entry);
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(Read(r, "err.administrator"), "");
    EXPECT_EQ(Read(r, "err.code"), "-1");
}

TEST(ErrorLoader, AfterTheHeaderAndIntoABuffer) {
    CDataRecord r;
    r.InitializeRecord();
    ASSERT_EQ(CZelErrorLoader(&r).LoadErrorFields(Result::SessTblFull, "root"), Result::Success);
    EXPECT_EQ(r.FindItem("err.administrator")->GetOffset(), 20u);
    EXPECT_EQ(r.FindItem("err.code")->GetOffset(), 70u);
    // The values can be written over their defaults and read back.
    CBuffer b;
    r.SetValue(&b, "err.code", "-4004");
    std::string out;
    r.GetStringValue(out, &b, "err.code", 1);
    EXPECT_EQ(out, "-4004");
    // A long administrator text is cut to the field.
    CDataRecord r2;
    const std::string longText(80, 'a');
    CZelErrorLoader(&r2).LoadErrorFields(Result::Unknown, longText.c_str());
    EXPECT_EQ(Read(r2, "err.administrator"), std::string(50, 'a'));
}

TEST(ErrorLoader, NoRecord) {
    CZelErrorLoader loader(nullptr);
    EXPECT_EQ(loader.LoadErrorFields(Result::CommClosed, "x"), Result::ParserBadDataRecord);
    // An unchanged record stays unchanged when the loader has none.
    CDataRecord r;
    r.InitializeRecord();
    EXPECT_EQ(CZelErrorLoader(nullptr).LoadErrorFields(Result::CommClosed, "x"),
              Result::ParserBadDataRecord);
    EXPECT_EQ(r.GetSize(), 20u);
    EXPECT_EQ(r.FindItem("err.code"), nullptr);
}
