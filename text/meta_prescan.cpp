// The <meta> prescan: the charset a page declares in its first 1024 bytes.
#include "text/text_codec.h"

#include "text/codec_common.h"

#include <string>
#include <string_view>

namespace teloria {

using namespace codec;

namespace {

bool startsWith(std::string_view s, std::size_t pos, std::string_view prefix)
{
    if (s.size() - pos < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (asciiLower(s[pos + i]) != prefix[i])
            return false;
    return true;
}

// The charset=... inside the content attribute of a <meta http-equiv>.
std::string charsetFromMetaContent(std::string_view s)
{
    std::size_t pos = 0;
    for (;;) {
        pos = s.find("charset", pos); // s is lower-cased already
        if (pos == std::string_view::npos)
            return {};
        pos += 7;
        while (pos < s.size() && isAsciiWhitespace(s[pos]))
            ++pos;
        if (pos >= s.size() || s[pos] != '=')
            continue;
        ++pos;
        while (pos < s.size() && isAsciiWhitespace(s[pos]))
            ++pos;
        if (pos >= s.size())
            return {};
        if (s[pos] == '"' || s[pos] == '\'') {
            const std::size_t close = s.find(s[pos], pos + 1);
            if (close == std::string_view::npos)
                return {};
            return std::string(s.substr(pos + 1, close - pos - 1));
        }
        std::size_t end = pos;
        while (end < s.size() && !isAsciiWhitespace(s[end]) && s[end] != ';')
            ++end;
        return std::string(s.substr(pos, end - pos));
    }
}

// A small version of the HTML prescan: walks the bytes as tags, comments and
// text, reading attributes the way a browser's prescan does, so that a
// "<meta" inside a comment or inside another tag's attribute is not taken.
class MetaPrescan {
public:
    explicit MetaPrescan(std::string_view s) : s_(s) {}

    QByteArray run()
    {
        while (pos_ < s_.size()) {
            if (startsWith(s_, pos_, "<!--")) {
                const std::size_t close = s_.find("-->", pos_ + 2);
                if (close == std::string_view::npos)
                    return {};
                pos_ = close + 3;
            } else if (startsWith(s_, pos_, "<meta") && pos_ + 5 < s_.size()
                       && (isAsciiWhitespace(s_[pos_ + 5]) || s_[pos_ + 5] == '/')) {
                pos_ += 6;
                if (QByteArray found = meta(); !found.isEmpty())
                    return found;
            } else if (s_[pos_] == '<' && pos_ + 1 < s_.size()
                       && (isLetter(s_[pos_ + 1])
                           || (s_[pos_ + 1] == '/' && pos_ + 2 < s_.size() && isLetter(s_[pos_ + 2])))) {
                pos_ += 1;
                while (pos_ < s_.size() && !isAsciiWhitespace(s_[pos_]) && s_[pos_] != '>')
                    ++pos_;
                std::string name, value;
                while (attribute(name, value)) {
                }
            } else if (startsWith(s_, pos_, "<!") || startsWith(s_, pos_, "</")
                       || startsWith(s_, pos_, "<?")) {
                const std::size_t close = s_.find('>', pos_ + 1);
                if (close == std::string_view::npos)
                    return {};
                pos_ = close + 1;
            } else {
                ++pos_;
            }
        }
        return {};
    }

private:
    static bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

    // The attributes of one <meta>; the resolved charset when it declares one.
    QByteArray meta()
    {
        bool gotPragma = false;
        enum { Unset, No, Yes } needPragma = Unset;
        QByteArray charset;
        bool seenHttpEquiv = false, seenContent = false, seenCharset = false;
        std::string name, value;
        while (attribute(name, value)) {
            if (name == "http-equiv" && !seenHttpEquiv) {
                seenHttpEquiv = true;
                gotPragma = value == "content-type";
            } else if (name == "content" && !seenContent) {
                seenContent = true;
                if (charset.isEmpty()) {
                    const std::string label = charsetFromMetaContent(value);
                    if (!label.empty()) {
                        charset = resolveEncodingLabel(QByteArrayView(label.data(), label.size()));
                        needPragma = Yes;
                    }
                }
            } else if (name == "charset" && !seenCharset) {
                seenCharset = true;
                charset = resolveEncodingLabel(QByteArrayView(value.data(), value.size()));
                needPragma = No;
            }
        }
        if (needPragma == Unset || (needPragma == Yes && !gotPragma) || charset.isEmpty())
            return {};
        if (charset == kUtf16Le || charset == kUtf16Be)
            return kUtf8;
        if (charset == kUserDefined)
            return kWindows1252;
        return charset;
    }

    // Reads the next attribute; false at the tag's '>' or the end of the bytes.
    bool attribute(std::string& name, std::string& value)
    {
        name.clear();
        value.clear();
        while (pos_ < s_.size() && (isAsciiWhitespace(s_[pos_]) || s_[pos_] == '/'))
            ++pos_;
        if (pos_ >= s_.size())
            return false;
        if (s_[pos_] == '>') {
            ++pos_;
            return false;
        }
        for (;;) {
            if (pos_ >= s_.size())
                return false;
            const char c = s_[pos_];
            if (c == '=' && !name.empty()) {
                ++pos_;
                break;
            }
            if (isAsciiWhitespace(c)) {
                while (pos_ < s_.size() && isAsciiWhitespace(s_[pos_]))
                    ++pos_;
                if (pos_ >= s_.size())
                    return false;
                if (s_[pos_] != '=')
                    return true;
                ++pos_;
                break;
            }
            if (c == '/' || c == '>')
                return true;
            name += asciiLower(c);
            ++pos_;
        }
        while (pos_ < s_.size() && isAsciiWhitespace(s_[pos_]))
            ++pos_;
        if (pos_ >= s_.size())
            return false;
        const char first = s_[pos_];
        if (first == '"' || first == '\'') {
            ++pos_;
            while (pos_ < s_.size() && s_[pos_] != first)
                value += asciiLower(s_[pos_++]);
            if (pos_ >= s_.size())
                return false;
            ++pos_;
            return true;
        }
        if (first == '>')
            return true;
        while (pos_ < s_.size() && !isAsciiWhitespace(s_[pos_]) && s_[pos_] != '>')
            value += asciiLower(s_[pos_++]);
        return pos_ < s_.size();
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

} // namespace

QByteArray prescanMetaCharset(QByteArrayView body)
{
    return MetaPrescan(view(body).substr(0, 1024)).run();
}

} // namespace teloria
