// The fixed text of the configuration file the editor writes: the header
// comment, the comment before each general setting and the section heads.
#ifndef QOR_CONFIGFILETEXT_H
#define QOR_CONFIGFILETEXT_H

#include <vector>

using TextLines = std::vector<const char *>;

// A general setting written as <Element value="..."/> after its comment.
struct ScalarDirective {
    const char *element;
    TextLines comment;
};

extern const TextLines kHeaderComment;
extern const TextLines kGeneralSectionHead;
// The fourteen settings every save writes, in file order.
extern const std::vector<ScalarDirective> kScalarDirectives;

// Settings written only when the file had them or the form changed them.
extern const TextLines kLogFileComment;
extern const TextLines kPidPoolComment;
extern const TextLines kTraceComment;
extern const TextLines kCacheCleanupComment;
extern const TextLines kMaxUsageComment;
extern const TextLines kCharacterSetComment;
extern const TextLines kDezUrComment;
extern const TextLines kSetenvComment;

extern const TextLines kLocapSectionHead;
extern const TextLines kLocapComment;
extern const TextLines kTransactionSectionHead;
extern const TextLines kTransactionComment;
extern const TextLines kAppGroupSectionHead;
extern const TextLines kAppGroupComment;

#endif
