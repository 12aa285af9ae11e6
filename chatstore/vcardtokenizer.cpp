// VCardTokenizer: line unfolding in front of a six-state line machine.
#include "chatstore/vcardtokenizer.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool equalsNoCase(const char* s, size_t n, const char* lit)
{
    const size_t m = std::strlen(lit);
    if (n != m)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char a = s[i];
        if (a >= 'a' && a <= 'z')
            a = static_cast<char>(a - 'a' + 'A');
        if (a != lit[i])
            return false;
    }
    return true;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

constexpr size_t kGrowStep = 128;
constexpr size_t kKeepCapacity = 1024;

} // namespace

VCardTokenizer::VCardTokenizer() = default;

VCardTokenizer::~VCardTokenizer() { std::free(m_buf); }

void VCardTokenizer::setCallbacks(PropertyStartFn propertyStart, ValueDataFn valueData, void* user)
{
    m_propertyStart = propertyStart;
    m_valueData = valueData;
    m_user = user;
}

bool VCardTokenizer::feed(const char* data, size_t length, bool final)
{
    if (m_aborted)
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (!unfold(data[i])) {
            m_aborted = true;
            return false;
        }
    }
    if (final) {
        if (m_state == State::PropertyValue && !endValue()) {
            m_aborted = true;
            return false;
        }
        resetProperty();
        m_state = State::PropertyName;
        m_newlinePending = m_continuation = false;
    }
    return true;
}

// A line feed waits until the next line shows whether it continues the
// current one (it begins with a blank). Blank lines vanish; a continuation
// becomes one blank, anything else passes the line feed on.
bool VCardTokenizer::unfold(char c)
{
    if (c == '\n') {
        m_newlinePending = true;
        m_continuation = false;
        return true;
    }
    if (m_newlinePending) {
        if (isBlank(c) && !m_continuation) {
            m_continuation = true;
            return true;
        }
        m_newlinePending = false;
        if (m_continuation) {
            m_continuation = false;
            m_qpPending = 0;
            if (!step(' '))
                return false;
        } else if (!step('\n')) {
            return false;
        }
    }
    return step(c);
}

bool VCardTokenizer::append(char c)
{
    if (m_len == m_cap) {
        if (m_cap >= kMaxPropertyBytes)
            return false;
        // Grow in whole steps, doubling so a large value costs linear time.
        size_t want = m_cap < kKeepCapacity ? m_cap + kGrowStep : m_cap * 2;
        if (want > kMaxPropertyBytes)
            want = kMaxPropertyBytes;
        char* grown = static_cast<char*>(std::realloc(m_buf, want));
        if (!grown)
            return false;
        m_buf = grown;
        m_cap = want;
    }
    m_buf[m_len++] = c;
    return true;
}

void VCardTokenizer::resetProperty()
{
    m_len = 0;
    m_nameLength = 0;
    m_params.clear();
    m_encoding = Encoding::None;
    m_escape = false;
    m_valueStarted = false;
    m_qpPending = 0;
    m_quadLength = 0;
    if (m_cap > kKeepCapacity) {
        std::free(m_buf);
        m_buf = nullptr;
        m_cap = 0;
    }
    if (m_params.capacity() > 64)
        std::vector<ParamSpan>().swap(m_params);
}

bool VCardTokenizer::step(char c)
{
    if (c == '\r')
        return true;
    switch (m_state) {
    case State::PropertyName:
        if (c == '\n') {
            resetProperty();
        } else if (c == ':') {
            m_nameLength = m_len;
            return startValue();
        } else if (c == ';') {
            m_nameLength = m_len;
            m_state = State::BeforeParamName;
        } else if (!isBlank(c)) {
            return append(c);
        }
        return true;

    case State::BeforeParamName:
        if (c == ':')
            return false;
        if (c == '\n') {  // the line ended inside the parameters: drop it
            resetProperty();
            m_state = State::PropertyName;
            return true;
        }
        if (isBlank(c))
            return true;
        try {
            ParamSpan p;
            p.nameStart = m_len;
            m_params.push_back(p);
        } catch (const std::bad_alloc&) {
            return false;
        }
        m_state = State::ParamName;
        return append(c) && (++m_params.back().nameLength, true);

    case State::ParamName:
        if (c == ':')
            return startValue();
        if (c == ';') {
            m_state = State::BeforeParamName;
        } else if (c == '=') {
            m_state = State::BeforeParamValue;
        } else if (c == '\n') {
            resetProperty();
            m_state = State::PropertyName;
        } else if (!isBlank(c)) {
            if (!append(c))
                return false;
            ++m_params.back().nameLength;
        }
        return true;

    case State::BeforeParamValue:
        if (c == ':' || c == ';')
            return false;
        if (c == '\n') {
            resetProperty();
            m_state = State::PropertyName;
            return true;
        }
        if (isBlank(c))
            return true;
        m_params.back().valueStart = m_len;
        m_state = State::ParamValue;
        m_escape = false;
        if (c == '\\') {
            m_escape = true;
            return true;
        }
        if (!append(c))
            return false;
        ++m_params.back().valueLength;
        return true;

    case State::ParamValue:
        if (c == ':')
            return startValue();
        if (c == '\n') {
            resetProperty();
            m_state = State::PropertyName;
            return true;
        }
        if (c == ';' && !m_escape) {
            m_state = State::BeforeParamName;
            return true;
        }
        if (c == '\\') {
            if (!m_escape) {
                m_escape = true;
                return true;
            }
            m_escape = false;
        } else if (c == ';') {
            m_escape = false;
        } else if (isBlank(c)) {
            return true;
        }
        if (!append(c))
            return false;
        ++m_params.back().valueLength;
        return true;

    case State::PropertyValue:
        if (c == '\n') {
            if (!endValue())
                return false;
            m_state = State::PropertyName;
            return true;
        }
        if (!m_valueStarted) {
            if (isBlank(c))
                return true;
            m_valueStarted = true;
        }
        switch (m_encoding) {
        case Encoding::QuotedPrintable:
            if (m_qpPending == 0) {
                if (c == '=') {
                    m_qpPending = 1;
                    return true;
                }
                return append(c);
            }
            if (m_qpPending == 1) {
                m_qpFirst = c;
                m_qpPending = 2;
                return true;
            }
            m_qpPending = 0;
            if (hexValue(m_qpFirst) >= 0 && hexValue(c) >= 0)
                return append(static_cast<char>(hexValue(m_qpFirst) * 16 + hexValue(c)));
            // Not an escape after all: keep the text as it stands.
            return append('=') && append(m_qpFirst) && append(c);
        case Encoding::Base64:
            if (isBlank(c))
                return true;
            m_quad[m_quadLength++] = c;
            return m_quadLength < 4 || decodeQuad();
        default:
            return append(c);
        }
    }
    return true;
}

// Chooses the value encoding from the parameters (by the value of an
// ENCODING parameter, by the name of any other; the last match wins) and
// announces the property. The buffer then collects the decoded value.
bool VCardTokenizer::startValue()
{
    m_encoding = Encoding::None;
    std::vector<VCardParam> params;
    try {
        params.reserve(m_params.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (const ParamSpan& p : m_params) {
        const char* name = m_buf + p.nameStart;
        const char* value = p.valueLength ? m_buf + p.valueStart : "";
        params.push_back({name, p.nameLength, value, p.valueLength});
        const bool byValue = equalsNoCase(name, p.nameLength, "ENCODING");
        const char* judged = byValue ? value : name;
        const size_t judgedLength = byValue ? p.valueLength : p.nameLength;
        if (equalsNoCase(judged, judgedLength, "QUOTED-PRINTABLE"))
            m_encoding = Encoding::QuotedPrintable;
        else if (equalsNoCase(judged, judgedLength, "BASE64") || equalsNoCase(judged, judgedLength, "B"))
            m_encoding = Encoding::Base64;
        else if (equalsNoCase(judged, judgedLength, "8BIT"))
            m_encoding = Encoding::EightBit;
    }
    if (m_propertyStart)
        m_propertyStart(m_user, m_nameLength ? m_buf : "", m_nameLength, params.data(), params.size());
    m_len = 0;
    m_params.clear();
    m_escape = false;
    m_valueStarted = false;
    m_qpPending = 0;
    m_quadLength = 0;
    m_state = State::PropertyValue;
    return true;
}

// Decodes one quad of Base64; "=" fills the third or fourth place. A quad
// that cannot be decoded ends the parse.
bool VCardTokenizer::decodeQuad()
{
    m_quadLength = 0;
    const int v0 = base64Value(m_quad[0]);
    const int v1 = base64Value(m_quad[1]);
    if (v0 < 0 || v1 < 0)
        return false;
    if (!append(static_cast<char>((v0 << 2) | (v1 >> 4))))
        return false;
    if (m_quad[2] == '=')
        return true;
    const int v2 = base64Value(m_quad[2]);
    if (v2 < 0)
        return false;
    if (!append(static_cast<char>(((v1 & 0x0f) << 4) | (v2 >> 2))))
        return false;
    const int v3 = base64Value(m_quad[3]);
    if (m_quad[3] == '=' || v3 < 0)
        return true;
    return append(static_cast<char>(((v2 & 0x03) << 6) | v3));
}

bool VCardTokenizer::endValue()
{
    if (m_encoding == Encoding::Base64 && m_quadLength > 0) {
        while (m_quadLength < 4)
            m_quad[m_quadLength++] = '=';
        if (!decodeQuad())
            return false;
    }
    if (m_valueData) {
        if (m_len > 0)
            m_valueData(m_user, m_buf, m_len);
        m_valueData(m_user, nullptr, 0);
    }
    resetProperty();
    return true;
}
