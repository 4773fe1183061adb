#include "data/place_names.h"

#include "kCountyPrefecturesText.h" // generated from data/county_prefectures.tsv
#include "kRenamesText.h"           // generated from data/renames.tsv
#include "data/text_table.h"

#include <QByteArrayView>

#include <array>
#include <map>
#include <utility>
#include <vector>

namespace teloria::data {
namespace {

struct Province {
    std::string_view shortName;
    std::string_view fullName;
    bool municipality = false;
};

// Longer short names first where one starts another is not needed: no short
// name is the start of another.
constexpr std::array<Province, 34> kProvinces{{
    {"北京", "北京市", true},           {"天津", "天津市", true},
    {"上海", "上海市", true},           {"重庆", "重庆市", true},
    {"河北", "河北省"},                 {"山西", "山西省"},
    {"辽宁", "辽宁省"},                 {"吉林", "吉林省"},
    {"黑龙江", "黑龙江省"},             {"江苏", "江苏省"},
    {"浙江", "浙江省"},                 {"安徽", "安徽省"},
    {"福建", "福建省"},                 {"江西", "江西省"},
    {"山东", "山东省"},                 {"河南", "河南省"},
    {"湖北", "湖北省"},                 {"湖南", "湖南省"},
    {"广东", "广东省"},                 {"海南", "海南省"},
    {"四川", "四川省"},                 {"贵州", "贵州省"},
    {"云南", "云南省"},                 {"陕西", "陕西省"},
    {"甘肃", "甘肃省"},                 {"青海", "青海省"},
    {"台湾", "台湾省"},                 {"内蒙古", "内蒙古自治区"},
    {"广西", "广西壮族自治区"},         {"西藏", "西藏自治区"},
    {"宁夏", "宁夏回族自治区"},         {"新疆", "新疆维吾尔自治区"},
    {"香港", "香港特别行政区"},         {"澳门", "澳门特别行政区"},
}};

// The 55 ethnic groups other than Han, as they stand before 自治州.
constexpr std::string_view kEthnicGroups[] = {
    "蒙古", "回", "藏", "维吾尔", "苗", "彝", "壮", "布依", "朝鲜", "满", "侗", "瑶", "白", "土家",
    "哈尼", "哈萨克", "傣", "黎", "傈僳", "佤", "畲", "高山", "拉祜", "水", "东乡", "纳西", "景颇",
    "柯尔克孜", "土", "达斡尔", "仫佬", "羌", "布朗", "撒拉", "毛南", "仡佬", "锡伯", "阿昌", "普米",
    "塔吉克", "怒", "乌孜别克", "俄罗斯", "鄂温克", "德昂", "保安", "裕固", "京", "塔塔尔", "独龙",
    "鄂伦春", "赫哲", "门巴", "珞巴", "基诺"};

std::size_t codePoints(std::string_view s)
{
    std::size_t n = 0;
    for (const char c : s)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    // Full-width spaces, as pasted from documents.
    while (s.starts_with("\u3000"))
        s.remove_prefix(3);
    while (s.ends_with("\u3000"))
        s.remove_suffix(3);
    return s;
}

// Drops suffix when at least two characters remain ("芒市" stays).
bool dropSuffix(std::string_view& name, std::string_view suffix)
{
    if (!name.ends_with(suffix) || codePoints(name.substr(0, name.size() - suffix.size())) < 2)
        return false;
    name.remove_suffix(suffix.size());
    return true;
}

std::string shortPrefecture(std::string_view name)
{
    name = trim(name);
    if (dropSuffix(name, "自治州")) {
        // "黔东南苗族侗族" -> "黔东南", "伊犁哈萨克" -> "伊犁"
        for (bool dropped = true; dropped;) {
            dropped = false;
            for (const std::string_view group : kEthnicGroups) {
                std::string withZu = std::string(group) + "族";
                if (dropSuffix(name, withZu) || (codePoints(group) >= 2 && dropSuffix(name, group))) {
                    dropped = true;
                    break;
                }
            }
        }
        return std::string(name);
    }
    for (const std::string_view suffix : {"特别行政区", "地区", "林区", "盟", "市"})
        if (dropSuffix(name, suffix))
            break;
    return std::string(name);
}

const Province* provinceNamed(std::string_view name)
{
    for (const Province& p : kProvinces)
        if (name == p.shortName || name == p.fullName)
            return &p;
    return nullptr;
}

// The province a description starts with, and the rest after it.
const Province* provinceAtStart(std::string_view text, std::string_view& rest)
{
    const Province* best = nullptr;
    std::size_t bestLength = 0;
    for (const Province& p : kProvinces) {
        for (const std::string_view name : {p.fullName, p.shortName}) {
            if (name.size() > bestLength && text.starts_with(name)) {
                best = &p;
                bestLength = name.size();
            }
        }
    }
    if (best)
        rest = text.substr(bestLength);
    return best;
}

using PairTable = std::map<std::pair<std::string, std::string>, std::string>;

PairTable readPairTable(std::string_view text)
{
    PairTable table;
    forEachLine(text, [&table](int, std::string_view line) {
        const auto fields = splitTabs(line);
        if (fields.size() >= 3)
            table.emplace(std::pair{std::string(fields[0]), std::string(fields[1])}, std::string(fields[2]));
    });
    return table;
}

const PairTable& renames()
{
    static const PairTable table = readPairTable(kRenamesText);
    return table;
}

const PairTable& countyPrefectures()
{
    static const PairTable table = readPairTable(kCountyPrefecturesText);
    return table;
}

// Province known: a municipality keeps no city; a county gives its
// prefecture; an old name gives today's, which may be a municipality.
Place finish(const Province* province, std::string provinceText, std::string city)
{
    if (province && province->municipality)
        return Place{std::string(province->shortName), {}};
    const std::string provinceName = province ? std::string(province->shortName) : std::move(provinceText);
    // "海南|海南" names the province alone; only 吉林 has a prefecture of its own name.
    if (city == provinceName && city != "吉林")
        city.clear();
    if (!city.empty()) {
        const auto& counties = countyPrefectures();
        if (auto it = counties.find({provinceName, city}); it != counties.end())
            city = it->second;
        else if (std::string_view c = city; dropSuffix(c, "县") || dropSuffix(c, "市")) {
            if (auto it2 = counties.find({provinceName, std::string(c)}); it2 != counties.end())
                city = it2->second;
        }
        if (auto it = renames().find({provinceName, city}); it != renames().end()) {
            city = it->second;
            if (const Province* now = provinceNamed(city); now && now->municipality)
                return Place{std::string(now->shortName), {}};
        }
    }
    return Place{provinceName, std::move(city)};
}

} // namespace

std::string Place::text() const
{
    if (province.empty())
        return city;
    if (city.empty())
        return province;
    return province + ' ' + city;
}

Place placeFromFields(std::string_view provinceText, std::string_view cityText)
{
    provinceText = trim(provinceText);
    cityText = trim(cityText);
    if (provinceText.empty())
        return placeFromDescription(cityText);
    const Province* province = provinceNamed(provinceText);
    std::string_view rest;
    if (!province && (province = provinceAtStart(provinceText, rest)) && !rest.empty()) {
        // "广东深圳" in the province field, a city field repeating it or empty.
        if (cityText.empty() || cityText == provinceText)
            return placeFromDescription(provinceText);
        province = nullptr;
    }
    std::string provinceName(provinceText);
    if (!province) {
        std::string_view p = provinceText;
        dropSuffix(p, "省");
        provinceName = std::string(p);
    }
    // A city field that repeats the province: "广东省深圳市" or "广东深圳".
    if (province) {
        for (const std::string_view name : {province->fullName, province->shortName}) {
            if (cityText.starts_with(name) && cityText.size() > name.size()) {
                cityText.remove_prefix(name.size());
                break;
            }
        }
    }
    return finish(province, std::move(provinceName), shortPrefecture(cityText));
}

Place placeFromDescription(std::string_view description)
{
    description = trim(description);
    std::string_view rest;
    const Province* province = provinceAtStart(description, rest);
    if (!province) {
        // No province: a county the table knows in exactly one province.
        const std::string city = shortPrefecture(description);
        const Province* found = nullptr;
        std::string prefecture;
        int matches = 0;
        for (const auto& [key, value] : countyPrefectures()) {
            if (key.second == city) {
                found = provinceNamed(key.first);
                prefecture = value;
                ++matches;
            }
        }
        if (matches == 1 && found)
            return finish(found, {}, prefecture);
        return Place{{}, city};
    }
    rest = trim(rest);
    if (rest == "省" || rest == "市")
        rest = {};
    return finish(province, {}, shortPrefecture(rest));
}

std::string canonicalCardType(std::string_view name)
{
    name = trim(name);
    if (name.empty())
        return {};
    static constexpr std::string_view kOperators[] = {"移动", "联通", "电信", "广电"};
    std::string_view rest = name;
    if (rest.starts_with("中国"))
        rest.remove_prefix(std::string_view("中国").size());
    for (const std::string_view op : kOperators) {
        if (rest == op)
            return "中国" + std::string(op);
        if (rest.starts_with(op)) {
            const std::string_view tail = rest.substr(op.size());
            if (tail == "虚拟运营商" || tail == "虚拟" || tail == "虚商")
                return "中国" + std::string(op) + "虚拟运营商";
            if (op == "电信" && tail == "卫星")
                return "中国电信卫星";
        }
    }
    if (name == "固话")
        return "固定电话";
    return std::string(name);
}

bool isSafeText(std::string_view text, std::string* why)
{
    auto refuse = [why](std::string reason) {
        if (why)
            *why = std::move(reason);
        return false;
    };
    if (!QByteArrayView(text.data(), static_cast<qsizetype>(text.size())).isValidUtf8())
        return refuse("is not UTF-8 text");
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            return refuse("holds a control character");
        if (c == '<' || c == '>' || c == '&')
            return refuse("holds markup (an angle bracket or ampersand)");
        if (c == '|')
            return refuse("holds a field separator (a vertical bar)");
    }
    for (const std::string_view marker : {"归属地", "卡类型"})
        if (text.find(marker) != std::string_view::npos)
            return refuse("holds a field marker (" + std::string(marker) + ")");
    return true;
}

} // namespace teloria::data
