// "Task Types" as the task editor reads it and writes it back when it closes.
#include "fuzz_input.h"
#include "task_list_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QStringList types = TaskTypesCodec::decode(storedText(data, size));
    for (const QString& type : types)
        FUZZ_CHECK(!type.isEmpty() && !type.contains(u';'));
    // Opening and closing the editor must not change the list.
    FUZZ_CHECK(TaskTypesCodec::decode(TaskTypesCodec::encode(types)) == types);
    return 0;
}
