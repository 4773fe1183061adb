#include "text/field_extract.h"

#include <gtest/gtest.h>

using teloria::extractField;
using teloria::kCardTypeMarker;
using teloria::kLocationMarker;

struct FieldCase {
    const char* name;
    QString page;
    QString location;
    QString cardType;
};

class ExtractField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(ExtractField, CutsTheFieldOut)
{
    const FieldCase& c = GetParam();
    EXPECT_EQ(extractField(c.page, kLocationMarker), c.location);
    EXPECT_EQ(extractField(c.page, kCardTypeMarker), c.cardType);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractField,
    ::testing::Values(
        FieldCase{"typical", u"<p>归属地：广东 深圳<br/>卡类型：中国移动 全球通<br/></p>"_qs,
                  u"广东 深圳"_qs, u"中国移动 全球通"_qs},
        FieldCase{"empty_page", "", "", ""},
        FieldCase{"no_markers", "<html>not found</html>", "", ""},
        FieldCase{"marker_twice_no_br", u"归属地：北京归属地：上海<br/>"_qs, u"北京"_qs, ""},
        FieldCase{"no_br_runs_to_end", u"卡类型：联通 "_qs, "", u"联通 "_qs},
        FieldCase{"marker_then_br", u"归属地：<br/>卡类型：<br/>"_qs, "", ""},
        FieldCase{"marker_at_end", u"x归属地："_qs, "", ""},
        FieldCase{"ascii_colon_is_not_marker", u"归属地:北京<br/>"_qs, "", ""},
        FieldCase{"tags_and_entities_kept", u"归属地：<b>江苏&nbsp;南京</b><br/>"_qs,
                  u"<b>江苏&nbsp;南京</b>"_qs, ""},
        FieldCase{"br_case_sensitive", u"归属地：天津<BR/>河北<br/>"_qs, u"天津<BR/>河北"_qs, ""}),
    [](const auto& info) { return std::string(info.param.name); });
