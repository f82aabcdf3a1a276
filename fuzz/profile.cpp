// Profiles: any bytes are either refused with a line inside the file or give
// a profile that writes back to text reading as the same profile.
#include "fuzzcheck.h"
#include "profile.h"

using namespace q274;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    const ProfileParse r = ParseProfile(text);
    if (!r.Value) {
        FUZZ_CHECK(!r.Error.isEmpty());
        FUZZ_CHECK(r.Line >= 1 && r.Line <= text.count('\n') + 1);
        return 0;
    }
    const QByteArray written = SerializeProfile(*r.Value);
    const ProfileParse back = ParseProfile(written);
    FUZZ_CHECK(back.Value);
    // A password the file holds against store_password = false is not written back.
    Profile want = *r.Value;
    if (!want.Mqtt.StorePassword)
        want.Mqtt.Password.clear();
    FUZZ_CHECK(*back.Value == want);
    FUZZ_CHECK(SerializeProfile(*back.Value) == written);
    return 0;
}
