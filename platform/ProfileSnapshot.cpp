// One read of an ini file serving many lookups.
#include "platform/ProfileSnapshot.h"

#include "Profile_p.h"
#include "platform/text.h"

namespace platform {

using namespace detail::profile;

struct ProfileSnapshot::Impl {
    Profile profile;
};

ProfileSnapshot::ProfileSnapshot(const std::wstring& fileName) : m_impl(std::make_unique<Impl>()) {
    if (fileName.empty()) return;
    std::lock_guard lock(Mutex());
    bool exists = false;
    if (!Load(ToUtf8(fileName), m_impl->profile, exists)) m_impl->profile = Profile{};
}

ProfileSnapshot::~ProfileSnapshot() = default;

std::optional<std::wstring> ProfileSnapshot::Value(std::wstring_view section, std::wstring_view key) const {
    const std::optional<std::wstring> value = m_impl->profile.Value(section, key);
    if (!value) return std::nullopt;
    return std::wstring(Unquote(*value));
}

}  // namespace platform
