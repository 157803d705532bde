// The whole file a save writes, byte for byte, for a form that carries
// only what every save writes: the fourteen general settings between their
// comment blocks, then the locap and transaction sections.
#include <gtest/gtest.h>

#include "ConfigWriter.h"
#include "editor_test_util.h"

namespace {

const char *const kExpected = R"FILE(<ZelConf>
<!--
 This is the main QOR Internet Connector configuration file. It 
 contains the configuration directives that define the 
 environment for running web-enabled QOR application programs.

 The configuration directives are grouped into three basic sections:
  1. Directives that define general QOR Internet Connector behaviour.
  2. Directives that define available QOR/ix locaps.
  3. Directives that define available QOR/ix transaction programs.

 Configuration and logfile names: If the filenames you specify 
 for many of the server's control files begin with "/" (or 
 "drive:/" for Win32), the server will use that explicit path. 
 If the filenames do *not* begin with "/", the value of ServerRoot
 is prepended -- so "logs/foo.log" with ServerRoot set to 
 "/usr/local/qoric" will be interpreted by the server as 
 "/usr/local/qoric/logs/foo.log".
 -->



<!-- The directives that affect the overall operation of QOR/ic. -->
<!-- =========================================================== -->

<!-- 
  -- ServerRoot: The top of the directory tree under which 
  -- the server's configuration, error, and log files are kept.
  -- Do NOT add a slash at the end of the directory path.  
  -->
<ServerRoot value="/usr/local/qoric"/>

<!--
  -- ServerAdmin: Your address, where problems with the server
  -- should be e-mailed.  This address appears on some 
  -- server-generated pages, such as error documents.
  -->
<ServerAdmin value="adm"/>

<!--
  -- LogLevel: Control the number of messages logged to the 
  -- error.log.  Possible values include: debug, info, 
  -- notice, warn, error, crit, alert, emerg.
  -->
<LogLevel value=""/>

<!--
  -- RegularStore: The location where converted .htx and .t3i
  -- files are regularly stored.
  -->
<RegularStore value="/r"/>

<!--
  -- Cache: The location where converted .htx and .t3i files
  -- are cached.
  -->
<Cache value="/c"/>

<!--
  -- ThisLocap: The Locap for this machine and Internet Connector 
  -- running on it (there could be multiple instances of the same 
  -- locap, but there could also be multiple locaps, provided that 
  -- we have multiple configuration files and multiple binaries:   
  -- not very usefull, but possible) 
  -->
<ThisLocap value="ICL"/>

<!--
  -- AdditionalHtml: The file name of the text file contents 
  -- of which is included at the bottom of automatically
  -- generated .htx file.
  -->
<AdditionalHtml value=""/>

<!--
  -- DefaultStylesheet: The file name of the .css file
  -- name of which is embedded as stylesheet file in the
  -- header of the automatically generated .htx file.
  -->
<DefaultStylesheet value=""/>

<!--
  -- FccModsSupport: This options controls the complexity of the 
  -- HTML templates created during the dynamic screen format
  -- conversion, depending on the required level of the support for 
  -- the FCC Modifiers.  Permited values are full, limited and none
  -->
<FccModsSupport value="full"/>

<!--
  -- OnPRENPage: The file name of the .htx file that notifies
  -- the user that the transaction succeeded.
  -->
<OnPRENPage value="p.htx"/>

<!--
  -- OnErrorPage: The file name of the .htx file that notifies
  -- the user that the transaction failed, and gives more explanation.
  -->
<OnErrorPage value="e.htx"/>

<!--
  -- InstanceCleanup: the time-out for the cleaner process to clean
  -- individual instancess of QOR ic and session records, if not 
  -- touched for a predefined time.
  -->
<InstanceCleanup value="120"/>

<!--
  -- SystemCleanup: time-out for the cleaner process to kill itself 
  -- and release shared session table, if no process touches a 
  -- table for a predefined amount of time. 
  -->
<SystemCleanup value="240"/>

<!--
  -- MaxSessions: the maximum number of DTP sessions to all QOR 
  -- locaps from this system.
  -->
<MaxSessions value="16"/>

<!-- The directives in this section define the available QOR/ix locaps. -->
<!-- ================================================================== -->

<!-- [Locap] element:
  -- Attributs:
  --     name - name of the Locap.
  -- Contents: [Address], [Port], optional [default] elements.
  --
  -- [Address] element: defines address of the locap.
  -- Attributes:
  --     value - address of the locap.
  --
  -- [Port] element: defines port of the locap
  -- Attributes:
  --     value - port of the locap.
  --
  -- [default] element: if present, makes this locap a 
  -- default locap.
  -->
<Locap name="A" address="h" port="7000"/>
<Locap name="B" address="h2" port="7001" default="yes"/>

<!-- The directives that define available QOR transaction programs. -->
<!-- ============================================================== -->

<!-- [Transaction] element:
  -- Attributs:
  --     name - name of the transaction.
  -- Contents: [Id], optional [Locap] elements.
  -- [Id] element: defines id of the transaction.
  -- Attributes:
  --     value - id of the transaction. 
  --
  -- [Locap] element: if present, defines name of the locap 
  --     for this transaction.
  -- Attributes:
  --     value - name of the locap for this transaction.
  -- 
  -- [CDA] element: if present, defines the CDA area for this 
  --     transaction, supplied when the trensaction is started.
  -- Attributes:
  --     value - complete CDA text for this transaction, blanks as blanks.
  -- [StyleSheet] element: if present, the name of the .css file
  -- which is embedded as stylesheet file in the header of the
  -- automatically generated .htx file, only the ones created 
  -- during this transaction.
  -- Attributes:
  --     value - complete or relative path.
  -- [AddHtx] element: if present, the name of the AdditionalHtml file, 
  -- contents of which is included at the bottom of automatically
  -- generated .htx file, only the ones created during this transaction.
  -- Attributes:
  --     value - complete or relative path.
  -->
<Transaction name="T" id="P"/>
<Transaction name="U" id="Q" locap="A" cda="x" stylesheet="s" addhtx="h"/>
</ZelConf>
)FILE";

TEST(ConfigFileText, EverySaveWritesExactlyThisText) {
    edtest::TempDir dir;
    const std::string path = dir.file("qoric.conf");
    edtest::WriteFile(path, "<ZelConf/>\n");
    RequestMap_t request;
    ParseRequestBody(
        "ServerRoot=%2Fusr%2Flocal%2Fqoric&ServerAdmin=adm&RegularStore=%2Fr&Cache=%2Fc"
        "&ThisLocap=ICL&AdditionalHtml=&DefaultStylesheet=&FccModsSupport=full"
        "&OnPRENPage=p.htx&OnErrorPage=e.htx&InstanceCleanup=120&SystemCleanup=240"
        "&MaxSessions=16&LocapCount=3&LocapName0=A&LocapHost0=h&LocapPort0=7000"
        "&LocapName1=B&LocapHost1=h2&LocapPort1=7001&LocapName2=C&LocapHost2=h3"
        "&DefaultLocap=1&TransactionCount=2&TransactionName0=T&TransactionId0=P"
        "&TransactionName1=U&TransactionId1=Q&TransactionLocap1=A&TransactionCda1=x"
        "&TransactionStyle1=s&TransactionExtraHtx1=h&nextaction=write_file",
        request);
    request["ConfigFile"] = path;
    std::string why;
    ASSERT_TRUE(WriteConfigFile(request, true, &why)) << why;
    EXPECT_EQ(edtest::ReadFile(path), kExpected);

    // The same form over a file that has none of the settings the form
    // lacks writes the same text again.
    ASSERT_TRUE(WriteConfigFile(request, true, &why)) << why;
    EXPECT_EQ(edtest::ReadFile(path), kExpected);
}

}  // namespace
