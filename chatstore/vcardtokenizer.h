// VCardTokenizer: a small streaming tokenizer for vCard-style text. It
// unfolds continuation lines, splits each property line into its name,
// parameters and value, decodes quoted-printable and Base64 values, and
// reports each property through two callbacks. Card texts come from chat
// databases, so the input is hostile: malformed lines are dropped or end
// the parse, memory stays bounded by the input, and nothing recurses.
//
// Plain C++ without the toolkit, so it can be fuzzed on its own.
#pragma once

#include <cstddef>
#include <vector>

struct VCardParam {
    const char* name;
    size_t nameLength;
    const char* value;  // empty (length 0) for a parameter without "="
    size_t valueLength;
};

class VCardTokenizer {
public:
    // A property begins: its name and its parameters, in input order.
    using PropertyStartFn = void (*)(void* user, const char* name, size_t nameLength, const VCardParam* params,
                                     size_t paramCount);
    // Decoded value bytes of the current property; a call with no data and
    // length 0 ends the value.
    using ValueDataFn = void (*)(void* user, const char* data, size_t length);

    // A single property (name, parameters or value) may not grow beyond
    // this; a longer one ends the parse like a failed allocation.
    static constexpr size_t kMaxPropertyBytes = size_t(64) << 20;

    VCardTokenizer();
    ~VCardTokenizer();
    VCardTokenizer(const VCardTokenizer&) = delete;
    VCardTokenizer& operator=(const VCardTokenizer&) = delete;

    void setCallbacks(PropertyStartFn propertyStart, ValueDataFn valueData, void* user);

    // Feeds the next bytes; with final set the input ends here (a value in
    // progress is delivered, an unfinished name or parameter list dropped).
    // False once the parse has been aborted; what was delivered stays.
    bool feed(const char* data, size_t length, bool final);

private:
    enum class State { PropertyName, BeforeParamName, ParamName, BeforeParamValue, ParamValue, PropertyValue };
    enum class Encoding { None, QuotedPrintable, Base64, EightBit };
    struct ParamSpan {
        size_t nameStart = 0, nameLength = 0;
        size_t valueStart = 0, valueLength = 0;
    };

    bool unfold(char c);
    bool step(char c);
    bool append(char c);
    bool startValue();
    bool endValue();
    bool decodeQuad();
    void resetProperty();

    PropertyStartFn m_propertyStart = nullptr;
    ValueDataFn m_valueData = nullptr;
    void* m_user = nullptr;

    State m_state = State::PropertyName;
    char* m_buf = nullptr;
    size_t m_len = 0;
    size_t m_cap = 0;
    size_t m_nameLength = 0;
    std::vector<ParamSpan> m_params;
    Encoding m_encoding = Encoding::None;
    bool m_escape = false;
    bool m_valueStarted = false;
    int m_qpPending = 0;  // 0: none; 1: after "="; 2: after "=" and one digit
    char m_qpFirst = 0;
    char m_quad[4] = {};
    int m_quadLength = 0;
    bool m_newlinePending = false;
    bool m_continuation = false;
    bool m_aborted = false;
};
