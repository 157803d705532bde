// The fixed comment text of the configuration file.
#include "ConfigFileText.h"

const TextLines kHeaderComment = {
    "<!--",
    " This is the main QOR Internet Connector configuration file. It ",
    " contains the configuration directives that define the ",
    " environment for running web-enabled QOR application programs.",
    "",
    " The configuration directives are grouped into three basic sections:",
    "  1. Directives that define general QOR Internet Connector behaviour.",
    "  2. Directives that define available QOR/ix locaps.",
    "  3. Directives that define available QOR/ix transaction programs.",
    "",
    " Configuration and logfile names: If the filenames you specify ",
    " for many of the server's control files begin with \"/\" (or ",
    " \"drive:/\" for Win32), the server will use that explicit path. ",
    " If the filenames do *not* begin with \"/\", the value of ServerRoot",
    " is prepended -- so \"logs/foo.log\" with ServerRoot set to ",
    " \"/usr/local/qoric\" will be interpreted by the server as ",
    " \"/usr/local/qoric/logs/foo.log\".",
    " -->",
};

const TextLines kGeneralSectionHead = {
    "<!-- The directives that affect the overall operation of QOR/ic. -->",
    "<!-- =========================================================== -->",
};

const std::vector<ScalarDirective> kScalarDirectives = {
    {"ServerRoot",
     {
         "<!-- ",
         "  -- ServerRoot: The top of the directory tree under which ",
         "  -- the server's configuration, error, and log files are kept.",
         "  -- Do NOT add a slash at the end of the directory path.  ",
         "  -->",
     }},
    {"ServerAdmin",
     {
         "<!--",
         "  -- ServerAdmin: Your address, where problems with the server",
         "  -- should be e-mailed.  This address appears on some ",
         "  -- server-generated pages, such as error documents.",
         "  -->",
     }},
    {"LogLevel",
     {
         "<!--",
         "  -- LogLevel: Control the number of messages logged to the ",
         "  -- error.log.  Possible values include: debug, info, ",
         "  -- notice, warn, error, crit, alert, emerg.",
         "  -->",
     }},
    {"RegularStore",
     {
         "<!--",
         "  -- RegularStore: The location where converted .htx and .t3i",
         "  -- files are regularly stored.",
         "  -->",
     }},
    {"Cache",
     {
         "<!--",
         "  -- Cache: The location where converted .htx and .t3i files",
         "  -- are cached.",
         "  -->",
     }},
    {"ThisLocap",
     {
         "<!--",
         "  -- ThisLocap: The Locap for this machine and Internet Connector ",
         "  -- running on it (there could be multiple instances of the same ",
         "  -- locap, but there could also be multiple locaps, provided that ",
         "  -- we have multiple configuration files and multiple binaries:   ",
         "  -- not very usefull, but possible) ",
         "  -->",
     }},
    {"AdditionalHtml",
     {
         "<!--",
         "  -- AdditionalHtml: The file name of the text file contents ",
         "  -- of which is included at the bottom of automatically",
         "  -- generated .htx file.",
         "  -->",
     }},
    {"DefaultStylesheet",
     {
         "<!--",
         "  -- DefaultStylesheet: The file name of the .css file",
         "  -- name of which is embedded as stylesheet file in the",
         "  -- header of the automatically generated .htx file.",
         "  -->",
     }},
    {"FccModsSupport",
     {
         "<!--",
         "  -- FccModsSupport: This options controls the complexity of the ",
         "  -- HTML templates created during the dynamic screen format",
         "  -- conversion, depending on the required level of the support for ",
         "  -- the FCC Modifiers.  Permited values are full, limited and none",
         "  -->",
     }},
    {"OnPRENPage",
     {
         "<!--",
         "  -- OnPRENPage: The file name of the .htx file that notifies",
         "  -- the user that the transaction succeeded.",
         "  -->",
     }},
    {"OnErrorPage",
     {
         "<!--",
         "  -- OnErrorPage: The file name of the .htx file that notifies",
         "  -- the user that the transaction failed, and gives more explanation.",
         "  -->",
     }},
    {"InstanceCleanup",
     {
         "<!--",
         "  -- InstanceCleanup: the time-out for the cleaner process to clean",
         "  -- individual instancess of QOR ic and session records, if not ",
         "  -- touched for a predefined time.",
         "  -->",
     }},
    {"SystemCleanup",
     {
         "<!--",
         "  -- SystemCleanup: time-out for the cleaner process to kill itself ",
         "  -- and release shared session table, if no process touches a ",
         "  -- table for a predefined amount of time. ",
         "  -->",
     }},
    {"MaxSessions",
     {
         "<!--",
         "  -- MaxSessions: the maximum number of DTP sessions to all QOR ",
         "  -- locaps from this system.",
         "  -->",
     }},
};

const TextLines kLogFileComment = {
    "<!--",
    "  -- LogFile: The log file of the QOR/ic processes; its options",
    "  -- attribute holds the log option letters.",
    "  -->",
};

const TextLines kPidPoolComment = {
    "<!--",
    "  -- PidPool: The range of PID pool numbers handed to sessions:",
    "  -- the low number, then the high number.",
    "  -->",
};

const TextLines kTraceComment = {
    "<!--",
    "  -- EnableAppTrace, EnableDtpTrace, EnableComTrace, EnableXmlTrace:",
    "  -- switch the traces on (true) or off (false).",
    "  -->",
};

const TextLines kCacheCleanupComment = {
    "<!--",
    "  -- CacheCleanup: the cache clean-up time in seconds.",
    "  -->",
};

const TextLines kMaxUsageComment = {
    "<!--",
    "  -- MaxUsage: the number of requests a QOR/ic process serves",
    "  -- before it ends and a fresh one takes its place.",
    "  -->",
};

const TextLines kCharacterSetComment = {
    "<!--",
    "  -- CharacterSet: the host's single-byte character set, which every",
    "  -- page declares to the browser (default ISO-8859-1).",
    "  -->",
};

const TextLines kDezUrComment = {
    "<!--",
    "  -- EnableDezUr: DezUR page support, yes or no.",
    "  -->",
};

const TextLines kSetenvComment = {
    "<!--",
    "  -- Setenv: environment variables set for every request.",
    "  -- Attributes: name, value.",
    "  -->",
};

const TextLines kLocapSectionHead = {
    "<!-- The directives in this section define the available QOR/ix locaps. -->",
    "<!-- ================================================================== -->",
};

const TextLines kLocapComment = {
    "<!-- [Locap] element:",
    "  -- Attributs:",
    "  --     name - name of the Locap.",
    "  -- Contents: [Address], [Port], optional [default] elements.",
    "  --",
    "  -- [Address] element: defines address of the locap.",
    "  -- Attributes:",
    "  --     value - address of the locap.",
    "  --",
    "  -- [Port] element: defines port of the locap",
    "  -- Attributes:",
    "  --     value - port of the locap.",
    "  --",
    "  -- [default] element: if present, makes this locap a ",
    "  -- default locap.",
    "  -->",
};

const TextLines kTransactionSectionHead = {
    "<!-- The directives that define available QOR transaction programs. -->",
    "<!-- ============================================================== -->",
};

const TextLines kTransactionComment = {
    "<!-- [Transaction] element:",
    "  -- Attributs:",
    "  --     name - name of the transaction.",
    "  -- Contents: [Id], optional [Locap] elements.",
    "  -- [Id] element: defines id of the transaction.",
    "  -- Attributes:",
    "  --     value - id of the transaction. ",
    "  --",
    "  -- [Locap] element: if present, defines name of the locap ",
    "  --     for this transaction.",
    "  -- Attributes:",
    "  --     value - name of the locap for this transaction.",
    "  -- ",
    "  -- [CDA] element: if present, defines the CDA area for this ",
    "  --     transaction, supplied when the trensaction is started.",
    "  -- Attributes:",
    "  --     value - complete CDA text for this transaction, blanks as blanks.",
    "  -- [StyleSheet] element: if present, the name of the .css file",
    "  -- which is embedded as stylesheet file in the header of the",
    "  -- automatically generated .htx file, only the ones created ",
    "  -- during this transaction.",
    "  -- Attributes:",
    "  --     value - complete or relative path.",
    "  -- [AddHtx] element: if present, the name of the AdditionalHtml file, ",
    "  -- contents of which is included at the bottom of automatically",
    "  -- generated .htx file, only the ones created during this transaction.",
    "  -- Attributes:",
    "  --     value - complete or relative path.",
    "  -->",
};

const TextLines kAppGroupSectionHead = {
    "<!-- The directives that define application groups. -->",
    "<!-- ============================================== -->",
};

const TextLines kAppGroupComment = {
    "<!-- [AppGroup] element:",
    "  -- Attributes:",
    "  --     url - the URL path of the group, as requested.",
    "  --     name, store, log, html, transaction, cda - optional;",
    "  --     sid - name of the session-id field (default SID);",
    "  --     dezur, pidpool - yes when switched on.",
    "  -->",
};
