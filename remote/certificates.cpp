#include "remote/certificates.h"

#include "platform/registry.h"
#include "platform/text.h"

namespace remote {
namespace {

// A fingerprint in openssl's form: 32 pairs of hex digits joined by ':'.
constexpr std::size_t fingerprintLength = 95;

class SettingsTrust final : public session::TrustDecisions {
public:
    std::string trustedCertificate(std::string_view server) override { return rememberedCertificate(server); }
    bool rememberCertificate(std::string_view server, std::string_view fingerprint) override {
        return remote::rememberCertificate(server, fingerprint);
    }
    std::string trustedHostKey(std::string_view) override { return {}; }
};

}  // namespace

std::string rememberedCertificate(std::string_view server) {
    platform::RegistryKey key = platform::noKey;
    if (!platform::openKey(platform::currentUserKey, certificatesKeyPath, key)) return {};
    char16_t text[fingerprintLength + 1] = {};
    std::uint32_t type = 0;
    std::uint32_t size = sizeof text;
    const bool found = platform::queryValue(key, platform::toUtf16(server), &type, text, &size);
    platform::closeKey(key);
    // Anything but a whole fingerprint (a hand-edited or torn value) trusts nothing.
    if (!found || type != platform::registryString || size != sizeof text || text[fingerprintLength] != u'\0') {
        return {};
    }
    return platform::toUtf8(std::u16string_view(text, fingerprintLength));
}

bool rememberCertificate(std::string_view server, std::string_view fingerprint) {
    platform::RegistryKey key = platform::noKey;
    if (!platform::createKey(platform::currentUserKey, certificatesKeyPath, key)) return false;
    const std::u16string text = platform::toUtf16(fingerprint);
    const bool written = platform::setValue(key, platform::toUtf16(server), platform::registryString, text.c_str(),
                                            std::uint32_t((text.size() + 1) * sizeof(char16_t)));
    platform::closeKey(key);
    return written;
}

session::TrustDecisions& settingsTrust() {
    static SettingsTrust trust;
    return trust;
}

}  // namespace remote
