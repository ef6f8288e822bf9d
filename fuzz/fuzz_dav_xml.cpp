// A server's multistatus answer and error body as the CalDAV client reads them. Whatever it
// reads is complete (every response has its href) and a placement it accepts reads back the
// same after writing.
#include "dav_xml.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)Dav::namesPrecondition(bytes, u"valid-sync-token");
    Dav::Multistatus reply;
    try {
        reply = Dav::readMultistatus(bytes);
    } catch (const Dav::DavFailure& failure) {
        FUZZ_CHECK(failure.kind() == Dav::DavFailure::Kind::BadResponse);
        return 0;
    }
    FUZZ_CHECK(reply.responses.size() <= Dav::kMaxResponses);
    for (const Dav::DavResponse& response : reply.responses) {
        FUZZ_CHECK(!response.href.isEmpty());
        if (!response.category)
            continue;
        if (const auto placement = Dav::readPlacement(*response.category)) {
            // Keys never hold a line break of their own: the text's lines are its fields.
            FUZZ_CHECK(Dav::readPlacement(Dav::placementText(*placement)) == placement);
        }
    }
    return 0;
}
