// The err.* fields of error and program-end pages.
#include "ZelErrorLoader.h"

#include <string>

#include "DataRecord.h"

Result CZelErrorLoader::LoadErrorFields(Result code, const char *administrator) {
    if (!m_pRecord) return Result::ParserBadDataRecord;
    m_pRecord->AddItem("err.administrator", "X(50)", administrator ? administrator : "");
    m_pRecord->AddItem("err.code", "X(6)", std::to_string(ResultCode(code)).c_str());
    for (const ResultName *n = ResultNamesBegin(); n != ResultNamesEnd(); ++n)
        m_pRecord->AddItem(n->errName, "X(6)", std::to_string(ResultCode(n->code)).c_str());
    return Result::Success;
}
