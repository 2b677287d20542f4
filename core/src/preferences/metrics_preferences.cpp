#include <quotalume/preferences/metrics_preferences.hpp>

#include <quotalume/metrics/metrics_address.hpp>
#include <quotalume/support/text.hpp>

#include <filesystem>
#include <stdexcept>

namespace quotalume {
namespace {

void storeOrRemove(PreferencesStore& store, std::string_view key, const std::string& value) {
    if (value.empty()) {
        store.remove(std::string(key));
    } else {
        store.setString(std::string(key), value);
    }
}

}  // namespace

MetricsPreferences MetricsPreferences::load(const PreferencesStore& store) {
    MetricsPreferences loaded;
    // A value this version would refuse (edited by hand) is no value: nothing is written or
    // served until it is mended.
    try {
        loaded.textfile = checkedTextfile(store.string(std::string(textfileKey)).value_or(""));
    } catch (const std::invalid_argument&) {
    }
    try {
        loaded.listen = checkedListen(store.string(std::string(listenKey)).value_or(""));
    } catch (const std::invalid_argument&) {
    }
    return loaded;
}

void MetricsPreferences::save(PreferencesStore& into) const {
    storeOrRemove(into, textfileKey, textfile);
    storeOrRemove(into, listenKey, listen);
}

std::string MetricsPreferences::checkedTextfile(std::string_view value) {
    const std::string_view given = trimmed(value);
    if (given.empty()) {
        return {};
    }
    const std::filesystem::path path = expandingTilde(given);
    const std::string name = path.filename().string();
    if (repairingUTF8(given) || !path.is_absolute() || !name.ends_with(".prom") ||
        name == ".prom") {
        throw std::invalid_argument(
            "an absolute path in UTF-8 to a file whose name ends in .prom (~/ works too), or "
            "nothing for no file");
    }
    return path.lexically_normal().string();
}

std::string MetricsPreferences::checkedListen(std::string_view value) {
    const std::string_view given = trimmed(value);
    try {
        return given.empty() ? std::string() : MetricsAddress::parse(given).text();
    } catch (const std::invalid_argument&) {
        throw std::invalid_argument(
            "a port (9464 is 127.0.0.1:9464) or a numeric address of this machine and a port "
            "(127.0.0.1:9464, [::1]:9464, 0.0.0.0:9464), or nothing for none");
    }
}

}  // namespace quotalume
