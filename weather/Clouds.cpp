#include "weather/Clouds.h"

#include <algorithm>

#include "weather/Words.h"

namespace orvento::weather {
namespace {

constexpr int kFeetPerHundred = 100;

constexpr std::pair<std::string_view, CloudAmount> kAmounts[] = {
    {"FEW", CloudAmount::few},     {"SCT", CloudAmount::scattered},
    {"BKN", CloudAmount::broken},  {"OVC", CloudAmount::overcast},
    {"///", CloudAmount::unknown}, {"VV", CloudAmount::verticalVisibility},
};

constexpr std::string_view kClearWords[] = {"CLR", "SKC", "NSC", "NCD"};

bool formsCeiling(CloudAmount amount) {
    return amount == CloudAmount::broken || amount == CloudAmount::overcast ||
           amount == CloudAmount::verticalVisibility;
}

}  // namespace

bool Sky::known() const {
    return !clearWord.empty() || std::any_of(layers.begin(), layers.end(), [](const CloudLayer& l) {
        return l.heightFt.has_value();
    });
}

std::optional<int> Sky::ceilingFt() const {
    std::optional<int> ceiling;
    for (const CloudLayer& layer : layers) {
        if (formsCeiling(layer.amount) && layer.heightFt &&
            (!ceiling || *layer.heightFt < *ceiling)) {
            ceiling = layer.heightFt;
        }
    }
    return ceiling;
}

bool readSkyWord(std::string_view word, Sky& sky) {
    if (std::find(std::begin(kClearWords), std::end(kClearWords), word) != std::end(kClearWords)) {
        sky.clearWord = word;
        return true;
    }
    for (const auto& [prefix, amount] : kAmounts) {
        if (!word.starts_with(prefix)) {
            continue;
        }
        const std::string_view rest = word.substr(prefix.size());
        if (rest.size() < 3) {
            return false;
        }
        const std::string_view height = rest.substr(0, 3);
        const std::string_view type = rest.substr(3);
        if ((height != "///" && !allDigits(height)) ||
            (!type.empty() && type != "CB" && type != "TCU" && type != "///")) {
            return false;
        }
        CloudLayer layer{amount, std::nullopt, type == "///" ? "" : std::string(type)};
        if (height != "///") {
            layer.heightFt = digitsValue(height) * kFeetPerHundred;
        }
        sky.layers.push_back(std::move(layer));
        return true;
    }
    return false;
}

}  // namespace orvento::weather
