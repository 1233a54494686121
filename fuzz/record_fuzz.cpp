// Fuzzes the record string: any text either converts or fails with a position,
// and whatever converts writes back as 26 characters that convert again.
#include "schedule/clsdata.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString record = QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(size));
    ConvertError error;
    const std::optional<Clsdata> entry = StrToData(record, &error);
    if (!entry) {
        if (record.size() != kRecordLength || error.position < 1 || error.position > kRecordLength)
            std::abort();
        return 0;
    }
    const QString back = entry->GetStr();
    if (back.size() != kRecordLength)
        std::abort();
    const std::optional<Clsdata> again = StrToData(back);
    if (!again || again->GetStr() != back)
        std::abort();
    return 0;
}
