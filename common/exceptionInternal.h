#pragma once

// How the library throws Exception with the location of the throw site: the source file stem and
// the function name are shaped at compile time. Not installed: hosts only catch.

#include "common/exception.h"

#include <fmt/format.h>

#include <cstddef>
#include <initializer_list>
#include <string_view>

namespace kiro::detail {

template <std::size_t N>
struct FixedString {
    char data[N]{};
};

/// Repository-relative path without its extension ("voveDizevuro/engine/core/kalmanFilter").
/// The build maps the source directory prefix away, so __FILE__ is already relative.
template <std::size_t N>
consteval FixedString<N> SourceFileStem(const char (&path)[N]) {
    std::size_t end = N - 1;
    for (std::size_t i = N - 1; i > 0; --i) {
        if (path[i - 1] == '/' || path[i - 1] == '\\') {
            break;
        }
        if (path[i - 1] == '.') {
            end = i - 1;
            break;
        }
    }
    FixedString<N> result{};
    for (std::size_t i = 0; i < end; ++i) {
        result.data[i] = path[i];
    }
    return result;
}

/// Appends to a FixedString and silently drops what does not fit, keeping the terminating NUL.
template <std::size_t N>
struct FixedStringBuilder {
    FixedString<N> text{};
    std::size_t size = 0;

    consteval void Append(std::string_view part) {
        for (const char c : part) {
            if (size + 1 < N) {
                text.data[size++] = c;
            }
        }
    }

    consteval bool EndsWith(std::string_view suffix) const {
        return std::string_view(text.data, size).ends_with(suffix);
    }

    consteval void DropLast(std::size_t count) {
        while (count-- > 0 && size > 0) {
            text.data[--size] = '\0';
        }
    }
};

consteval bool IsIdentifierChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

/// True when `word` is at `pos` and does not continue into a longer identifier.
consteval bool WordAt(std::string_view text, std::size_t pos, std::string_view word) {
    const std::size_t after = pos + word.size();
    return text.substr(pos).starts_with(word) && (after == text.size() || !IsIdentifierChar(text[after]));
}

/// The keyword "operator" at `pos`, not the tail of a longer identifier.
consteval bool IsOperatorAt(std::string_view text, std::size_t pos) {
    return WordAt(text, pos, "operator") && (pos == 0 || !IsIdentifierChar(text[pos - 1]));
}

/// Index of the parameter list after the operator name at `pos`. Operator names contain
/// brackets and blanks ("operator<", "operator()", "operator int") that must not be parsed.
consteval std::size_t SkipOperatorName(std::string_view text, std::size_t pos) {
    pos += std::string_view("operator").size();
    if (text.substr(pos).starts_with("()")) {
        pos += 2;
    }
    while (pos < text.size() && text[pos] != '(') {
        ++pos;
    }
    return pos;
}

/// Qualifiers after a parameter list; a lambda's enclosing function keeps them inside the name
/// ("ns::C() const::<lambda()>").
consteval bool IsQualifierAt(std::string_view text, std::size_t pos) {
    return (pos < text.size() && text[pos] == '&') || WordAt(text, pos, "const") ||
           WordAt(text, pos, "volatile") || WordAt(text, pos, "mutable");
}

/// GCC prints cv- and ref-qualifiers after the parameter list and "mutable" after a lambda's name.
consteval std::string_view DropTrailingQualifiers(std::string_view signature) {
    for (bool dropped = true; dropped;) {
        dropped = false;
        for (const std::string_view qualifier : {" const", " volatile", " mutable", " &", " &&"}) {
            if (signature.ends_with(qualifier)) {
                signature.remove_suffix(qualifier.size());
                dropped = true;
            }
        }
    }
    return signature;
}

/// The qualified name inside a signature without its "[with ...]" note: after the return type
/// (the last blank outside brackets) and before the parameter list.
consteval std::string_view FunctionNameIn(std::string_view signature) {
    signature = DropTrailingQualifiers(signature);
    std::size_t begin = 0;
    std::size_t lastOpen = signature.size();
    int depth = 0;
    std::size_t i = 0;
    while (i < signature.size()) {
        if (depth == 0 && IsOperatorAt(signature, i)) {
            i = SkipOperatorName(signature, i);
            continue;
        }
        const char c = signature[i];
        if (c == '(' && depth == 0) {
            lastOpen = i;
        }
        // "Foo<int, int>", "(anonymous namespace)" and "{anonymous}" contain blanks.
        if (c == '<' || c == '(' || c == '{' || c == '[') {
            ++depth;
        } else if (c == '>' || c == ')' || c == '}' || c == ']') {
            --depth;
        } else if (c == ' ' && depth == 0 && !IsQualifierAt(signature, i + 1)) {
            begin = i + 1;
        }
        ++i;
    }
    // A lambda's closure name ("ns::F()::<lambda(int)>") has no parameter list after it.
    const std::size_t end = signature.ends_with(')') && lastOpen >= begin ? lastOpen : signature.size();
    return signature.substr(begin, end - begin);
}

/// The "A = x; B = y" list of GCC's " [with A = x; B = y]" note; empty when there is none.
consteval std::string_view TemplateArgumentNote(std::string_view pretty) {
    constexpr std::string_view kOpening = " [with ";
    const std::size_t start = pretty.find(kOpening);
    if (start == std::string_view::npos) {
        return {};
    }
    std::string_view note = pretty.substr(start + kOpening.size());
    if (note.ends_with(']')) {
        note.remove_suffix(1);
    }
    return note;
}

/// Template parameters are plain identifiers or GCC's "auto:1" for generic lambdas. The note also
/// explains typedefs and decltypes ("std::ostream = ...", "decltype ((t + 1)) = int"): not
/// parameters.
consteval bool IsParameterName(std::string_view name) {
    if (name.empty() || (name[0] >= '0' && name[0] <= '9') || name.find("::") != std::string_view::npos) {
        return false;
    }
    for (const char c : name) {
        if (!IsIdentifierChar(c) && c != ':') {
            return false;
        }
    }
    return true;
}

struct TemplateBinding {
    std::string_view parameter;  // empty when the entry is no template parameter
    std::string_view value;
};

/// Removes the first "A = x" entry from `note` and returns it.
consteval TemplateBinding PopBinding(std::string_view& note) {
    const std::size_t stop = note.find("; ");
    const std::string_view entry = note.substr(0, stop);
    note = stop == std::string_view::npos ? std::string_view{} : note.substr(stop + 2);
    const std::size_t equals = entry.find(" = ");
    if (equals == std::string_view::npos) {
        return {};
    }
    // A non-type parameter is declared with its type ("int K"): the name is the last word.
    std::string_view parameter = entry.substr(0, equals);
    const std::size_t blank = parameter.rfind(' ');
    if (blank != std::string_view::npos) {
        parameter = parameter.substr(blank + 1);
    }
    return {IsParameterName(parameter) ? parameter : std::string_view{}, entry.substr(equals + 3)};
}

/// GCC prints a parameter pack's value in braces ("{int, char}", "{}").
consteval bool IsPack(std::string_view value) {
    return value.starts_with('{') && value.ends_with('}');
}

consteval std::string_view PackElements(std::string_view value) {
    return IsPack(value) ? value.substr(1, value.size() - 2) : value;
}

/// True when `parameter` starts at `pos` of `name` as a whole identifier. After "::" it would
/// name a member, never a template parameter.
consteval bool IsParameterAt(std::string_view name, std::size_t pos, std::string_view parameter) {
    const bool startsWord = pos == 0 || (!IsIdentifierChar(name[pos - 1]) && name[pos - 1] != ':');
    return startsWord && WordAt(name, pos, parameter);
}

/// The binding of the note whose parameter appears at `pos` of `name`; empty parameter if none.
consteval TemplateBinding BindingAt(std::string_view name, std::size_t pos, std::string_view note) {
    while (!note.empty()) {
        const TemplateBinding binding = PopBinding(note);
        if (!binding.parameter.empty() && IsParameterAt(name, pos, binding.parameter)) {
            return binding;
        }
    }
    return {};
}

consteval bool Mentions(std::string_view name, std::string_view parameter) {
    for (std::size_t pos = 0; pos < name.size(); ++pos) {
        if (IsParameterAt(name, pos, parameter)) {
            return true;
        }
    }
    return false;
}

/// Appends a pack's elements in place of its parameter, which ends at `pos` of `name`, and
/// returns where the copying of `name` goes on. "Args ..." expands to the elements; an empty
/// pack must not leave a dangling comma.
template <std::size_t M>
consteval std::size_t AppendPack(FixedStringBuilder<M>& out, std::string_view elements, std::string_view name,
                                 std::size_t pos) {
    for (const std::string_view expansion : {" ...", "..."}) {
        if (name.substr(pos).starts_with(expansion)) {
            pos += expansion.size();
            break;
        }
    }
    out.Append(elements);
    if (elements.empty() && out.EndsWith(", ")) {
        out.DropLast(2);
    }
    return pos;
}

/// Copies `name` with its template parameters replaced by their values from `note`.
template <std::size_t M>
consteval void AppendSubstituted(FixedStringBuilder<M>& out, std::string_view name, std::string_view note) {
    std::size_t i = 0;
    while (i < name.size()) {
        const TemplateBinding binding = BindingAt(name, i, note);
        if (binding.parameter.empty()) {
            out.Append(name.substr(i, 1));
            ++i;
            continue;
        }
        i += binding.parameter.size();
        if (IsPack(binding.value)) {
            i = AppendPack(out, PackElements(binding.value), name, i);
        } else {
            out.Append(binding.value);
        }
        // Spelled like GCC's own nested argument lists ("Box<Box<int> >").
        if (out.EndsWith(">") && name.substr(i).starts_with('>')) {
            out.Append(" ");
        }
    }
}

/// GCC prints a function template's name without its arguments ("ns::Twice"): append the
/// arguments the name does not mention, in the order of the note ("ns::Twice<double>").
template <std::size_t M>
consteval void AppendUnmentionedArguments(FixedStringBuilder<M>& out, std::string_view name,
                                          std::string_view note) {
    bool opened = false;
    bool empty = true;
    while (!note.empty()) {
        const TemplateBinding binding = PopBinding(note);
        if (binding.parameter.empty() || Mentions(name, binding.parameter)) {
            continue;
        }
        if (!opened) {
            // "operator<<<int>" would not read as an argument list.
            out.Append(out.EndsWith("<") ? " <" : "<");
            opened = true;
        }
        const std::string_view value = PackElements(binding.value);
        if (!value.empty()) {
            out.Append(empty ? "" : ", ");
            out.Append(value);
            empty = false;
        }
    }
    if (opened) {
        // Spelled like GCC's own nested argument lists ("Foo<std::vector<int> >").
        out.Append(out.EndsWith(">") ? " >" : ">");
    }
}

/// Qualified name of a function from GCC's __PRETTY_FUNCTION__, as the compiler spells it:
/// without return type, parameter list and qualifiers, with the template arguments of the
/// "[with ...]" note put in place of the parameters ("void ns::Box<T>::F() [with T = int]" gives
/// "ns::Box<int>::F"). Substitution may lengthen the text, hence the doubled size.
template <std::size_t N>
consteval FixedString<2 * N> QualifiedFunctionName(const char (&pretty)[N]) {
    const std::string_view text(pretty, N - 1);
    const std::string_view note = TemplateArgumentNote(text);
    const std::string_view name = FunctionNameIn(text.substr(0, text.find(" [with ")));
    FixedStringBuilder<2 * N> out;
    AppendSubstituted(out, name, note);
    AppendUnmentionedArguments(out, name, note);
    return out.text;
}

}  // namespace kiro::detail

/// Throws kiro::Exception with a fmt-formatted message and the location of the throw site.
#define KIRO_THROW(...)                                                                                   \
    do {                                                                                                  \
        static constexpr auto kiroThrowFile_ = ::kiro::detail::SourceFileStem(__FILE__);                  \
        static constexpr auto kiroThrowFunction_ = ::kiro::detail::QualifiedFunctionName(__PRETTY_FUNCTION__); \
        throw ::kiro::Exception(::fmt::format(__VA_ARGS__),                                               \
                                ::kiro::SourceLocation{kiroThrowFile_.data, __LINE__, kiroThrowFunction_.data}); \
    } while (false)
