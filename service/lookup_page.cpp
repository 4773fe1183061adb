#include "service/lookup_page.h"

#include "text/gbk.h"

namespace teloria::service {
namespace {

std::string errorPage(QStringView title, QStringView message)
{
    return data::gbk(QStringLiteral("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=GBK\">"
                                    "<title>%1</title></head><body><p>%2</p></body></html>\n")
                   .arg(title, message))
        .toStdString();
}

struct AnswerParts {
    std::string head = data::gbk(u"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=GBK\">"
                                 u"<title>手机号码归属地查询</title></head><body>\n<p>号码：")
                           .toStdString();
    std::string location = data::gbk(u"<br/>\n归属地：").toStdString();
    std::string cardType = data::gbk(u"<br/>\n卡类型：").toStdString();
    std::string tail = data::gbk(u"<br/>\n</p></body></html>\n").toStdString();
};

const AnswerParts& parts()
{
    static const AnswerParts p;
    return p;
}

} // namespace

std::string answerPage(std::string_view number, const Answer& answer)
{
    const AnswerParts& p = parts();
    std::string page;
    page.reserve(p.head.size() + number.size() + p.location.size() + static_cast<std::size_t>(answer.locationGbk.size())
                 + p.cardType.size() + static_cast<std::size_t>(answer.cardTypeGbk.size()) + p.tail.size());
    page += p.head;
    page += number;
    page += p.location;
    page.append(answer.locationGbk.constData(), static_cast<std::size_t>(answer.locationGbk.size()));
    page += p.cardType;
    page.append(answer.cardTypeGbk.constData(), static_cast<std::size_t>(answer.cardTypeGbk.size()));
    page += p.tail;
    return page;
}

const std::string& notANumberPage()
{
    static const std::string page = errorPage(u"号码有误", u"请输入手机号码或带区号的固定电话号码。");
    return page;
}

const std::string& notFoundPage()
{
    static const std::string page = errorPage(u"404 Not Found", u"没有这个页面。");
    return page;
}

const std::string& methodNotAllowedPage()
{
    static const std::string page = errorPage(u"405 Method Not Allowed", u"只接受 GET 和 HEAD 请求。");
    return page;
}

const std::string& tooLongPage()
{
    static const std::string page = errorPage(u"414 URI Too Long", u"查询太长。");
    return page;
}

const std::string& tooLargePage()
{
    static const std::string page = errorPage(u"413 Payload Too Large", u"请求体太大。");
    return page;
}

const std::string& headersTooLargePage()
{
    static const std::string page = errorPage(u"431 Request Header Fields Too Large", u"请求头太多或太长。");
    return page;
}

const std::string& badRequestPage()
{
    static const std::string page = errorPage(u"400 Bad Request", u"请求有误。");
    return page;
}

} // namespace teloria::service
