#include "link/switches.h"

#include <algorithm>

namespace vorlek {

namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return lower;
}

// "Usage: VorlekClient.exe [/hold=device|hooks] [/orders=any|servers] [/start=available|blocked]"
std::string Usage(std::span<const SwitchForm> forms, std::string_view program) {
    std::string usage = "Usage: ";
    usage.append(program);
    for (const SwitchForm& form : forms) {
        usage.append(" [/").append(form.name);
        for (std::size_t i = 0; i < form.values.size(); ++i) {
            usage.append(i == 0 ? "=" : "|").append(form.values[i]);
        }
        usage.append("]");
    }
    return usage;
}

}  // namespace

SwitchReading ReadSwitches(std::span<const std::string> words, std::span<const SwitchForm> forms,
                           std::string_view program) {
    SwitchReading reading;
    reading.chosen.assign(forms.size(), 0);
    std::vector<bool> given(forms.size(), false);
    const auto refuse = [&](std::string_view what, const std::string& word) {
        reading.fault = std::string(what);
        reading.fault->append(" \"").append(word).append("\".\n").append(Usage(forms, program));
    };
    for (const std::string& word : words) {
        const std::string lower = Lower(word);
        const auto equals = lower.find('=');
        const std::string_view name =
            std::string_view(lower).substr(0, equals).substr(lower.starts_with('/') ? 1 : 0);
        const auto form = std::find_if(forms.begin(), forms.end(),
                                       [&](const SwitchForm& s) { return s.name == name; });
        if (!lower.starts_with('/') || form == forms.end()) {
            refuse("Unknown switch", word);
            return reading;
        }
        const auto index = static_cast<std::size_t>(form - forms.begin());
        const std::string_view value = equals == std::string::npos
                                           ? std::string_view()
                                           : std::string_view(lower).substr(equals + 1);
        const auto found = std::find(form->values.begin(), form->values.end(), value);
        if (equals == std::string::npos || found == form->values.end()) {
            refuse("Unknown value in", word);
            return reading;
        }
        if (given[index]) {
            refuse("Switch given twice:", word);
            return reading;
        }
        given[index] = true;
        reading.chosen[index] = static_cast<std::size_t>(found - form->values.begin());
    }
    return reading;
}

}  // namespace vorlek
