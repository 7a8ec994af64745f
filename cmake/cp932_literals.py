#!/usr/bin/env python3
"""Shift-JIS string literals for compilers without an execution character set.

GCC (-fexec-charset=CP932) and MSVC (/execution-charset:.932) turn the UTF-8
text of plain narrow string and character literals into code page 932 bytes;
clang cannot. For clang the build compiles a copy of each such source in which
those literals hold the same bytes as octal escapes; the checked-in source
stays readable UTF-8.

    cp932_literals.py SOURCE COPY
        Writes COPY: `#line 1 "SOURCE"`, then SOURCE with its plain narrow
        literals converted. A character code page 932 lacks is an error that
        names the file, line and character.
    cp932_literals.py --scan SOURCES HEADERS
        SOURCES and HEADERS list one path a line. Prints the sources that need
        a copy; a header that would need one is an error (headers are not
        converted: their text belongs in a source).
    cp932_literals.py --guard PLAIN HEADERS STAMP
        The build-time check of the files compiled as they are (the sources
        in PLAIN, the headers): if one now needs converting, says so, touches
        both lists (CMake reads them, so the next build configures again and
        converts it) and fails; else writes STAMP.

Only plain narrow literals change, as with -fexec-charset: u8, u, U and L
literals stay, and so does a plain literal joined to one of them. Comments,
header names and the strings of #line, #pragma, #error and the like stay too.
The bytes are those of glibc's iconv "CP932", which GCC uses. Two things GCC
converts are out of reach of a source-to-source step and stay UTF-8: text
made by the preprocessor (#x of Japanese tokens) and a __FILE__ whose path
holds non-ASCII characters.
"""
import bisect
import os
import re
import sys

ENCODING_PREFIXES = ("u8", "u", "U", "L")
RAW_PREFIXES = ("R", "u8R", "uR", "UR", "LR")
# Directives whose strings are file names or messages, never program data.
KEPT_DIRECTIVES = ("include", "include_next", "import", "line", "pragma", "error", "warning",
                   "ident", "sccs")
SPLICE = re.compile(r"\\[ \t\f\v]*(?:\r\n|\n)")

# Where glibc's CP932 differs from Python's codec: three characters glibc maps
# one way, five code points only Python maps, and the IBM extension kanji and
# numerals, which glibc (like Windows) writes with their 0xFA-0xFC codes
# rather than the NEC-selected copies in rows 89-92.
ONE_WAY = {"\u00a5": b"\x5c", "\u203e": b"\x7e", "\u2014": b"\x81\x5c"}
UNMAPPED = {"\u0080", "\uf8f0", "\uf8f1", "\uf8f2", "\uf8f3"}
_ibm_codes = {}


def _ibm_code(character):
    if not _ibm_codes:
        for lead in range(0xFA, 0xFD):
            for trail in list(range(0x40, 0x7F)) + list(range(0x80, 0xFD)):
                code = bytes((lead, trail))
                try:
                    _ibm_codes.setdefault(code.decode("cp932"), code)
                except UnicodeDecodeError:
                    pass
    return _ibm_codes.get(character)


def cp932_bytes(character):
    """The CP932 bytes of one character, or None if the code page lacks it."""
    if character in ONE_WAY:
        return ONE_WAY[character]
    if character in UNMAPPED:
        return None
    try:
        code = character.encode("cp932")
    except UnicodeEncodeError:
        return None
    if len(code) == 2 and code[0] in (0xED, 0xEE):
        return _ibm_code(character) or code
    return code


class Literal:
    """One string or character literal: logical span, prefix, whether it may change."""

    def __init__(self, kind, prefix, start, end, raw_body=None):
        self.kind = kind  # '"' or "'"
        self.prefix = prefix  # "", "u8", "R", "LR", ...
        self.start = start  # logical index of the first prefix character
        self.end = end  # logical index after the closing quote
        self.raw_body = raw_body  # (first, last) physical span of a raw string's text
        self.convertible = False
        self.kept = False  # a file name or message of a directive such as #include
        self.joined = None  # the adjacent string literals that make one string with it

    @property
    def plain(self):
        return self.prefix in ("", "R")


class Source:
    """A file as the compiler reads it: splices removed, with the way back."""

    def __init__(self, path, data):
        self.path = path
        text = data.decode("utf-8", "surrogateescape")
        if text.startswith("\ufeff"):
            text = text[1:]
        self.text = text
        logical, where, last = [], [], 0
        for splice in SPLICE.finditer(text):
            logical.append(text[last:splice.start()])
            where.extend(range(last, splice.start()))
            last = splice.end()
        logical.append(text[last:])
        where.extend(range(last, len(text)))
        where.append(len(text))
        self.logical = "".join(logical)
        self.where = where  # physical index of each logical character, and of the end

    def physical_of(self, index):
        return self.where[index]

    def logical_of(self, physical):
        return bisect.bisect_left(self.where, physical)

    def span(self, literal):
        """The physical text of a literal, from its prefix to its closing quote."""
        return self.where[literal.start], self.where[literal.end - 1] + 1

    def line_of(self, physical):
        return self.text.count("\n", 0, physical) + 1


def _identifier_char(character):
    return character.isalnum() or character in "_$" or ord(character) >= 0x80


def lex(source):
    """Every string and character literal of the source, in order."""
    s = source.logical
    n = len(s)
    literals = []
    groups = {False: [], True: []}  # adjacent string literals, outside and inside a directive
    joined = []  # each finished group of adjacent string literals
    i = 0
    at_line_start = True
    directive = None  # None, "convert" or "keep"

    def close(inside):
        if groups[inside]:
            joined.append(groups[inside])
            groups[inside] = []

    def quoted(begin, quote):
        """Index after a quoted literal's closing quote (or its line's end) and whether it closed."""
        k = begin + 1
        while k < n:
            character = s[k]
            if character == "\\":
                k += 2
            elif character == quote:
                return k + 1, True
            elif character == "\n":
                return k, False
            else:
                k += 1
        return n, False

    def suffix(k):
        while k < n and _identifier_char(s[k]):
            k += 1
        return k

    while i < n:
        c = s[i]
        if c == "\n":
            i += 1
            at_line_start = True
            if directive:
                close(True)
                directive = None
            continue
        if c in " \t\f\v\r":
            i += 1
            continue
        if s.startswith("//", i):
            end = s.find("\n", i)
            i = n if end < 0 else end
            continue
        if s.startswith("/*", i):
            end = s.find("*/", i + 2)
            i = n if end < 0 else end + 2
            continue
        if at_line_start and (c == "#" or s.startswith("%:", i)):
            at_line_start = False
            i += 1 if c == "#" else 2
            while i < n and s[i] in " \t\f\v\r":
                i += 1
            j = i
            while j < n and _identifier_char(s[j]):
                j += 1
            name = s[i:j]
            directive = "keep" if name in KEPT_DIRECTIVES or name[:1].isdigit() else "convert"
            i = j
            continue
        at_line_start = False
        inside = directive is not None
        start = i
        prefix = ""
        if c.isalpha() or c in "_$" or ord(c) >= 0x80:
            j = i
            while j < n and _identifier_char(s[j]):
                j += 1
            word = s[i:j]
            if j < n and s[j] == '"' and word in RAW_PREFIXES:
                literal = _raw(source, start, j, word)
                if literal:
                    literals.append(literal)
                    groups[inside].append(literal)
                    literal.kept = directive == "keep"
                    literal.convertible = not literal.kept
                    i = suffix(literal.end)
                    continue
            if j < n and s[j] in "\"'" and word in ENCODING_PREFIXES:
                prefix, i = word, j
                c = s[i]
            else:
                close(inside)
                i = j
                continue
        elif c.isdigit() or (c == "." and i + 1 < n and s[i + 1].isdigit()):
            # A pp-number: 1'000 and 0x7fff'ffff hold digit separators, not character literals.
            j = i + 1
            while j < n:
                if s[j] in "eEpP" and j + 1 < n and s[j + 1] in "+-":
                    j += 2
                elif _identifier_char(s[j]) or s[j] == ".":
                    j += 1
                elif s[j] == "'" and j + 1 < n and (s[j + 1].isalnum() or s[j + 1] == "_"):
                    j += 2
                else:
                    break
            close(inside)
            i = j
            continue
        if c in "\"'":
            end, closed = quoted(i, c)
            if not closed:
                close(inside)
                i = end
                continue
            literal = Literal(c, prefix, start, end)
            literal.kept = directive == "keep"
            literal.convertible = not literal.kept
            literals.append(literal)
            if c == '"':
                groups[inside].append(literal)
            else:
                close(inside)
            i = suffix(end)
            continue
        close(inside)
        i += 1
    close(False)
    close(True)
    # A plain literal joined to a prefixed one takes that prefix's encoding.
    for group in joined:
        plain = all(literal.plain for literal in group)
        for literal in group:
            literal.joined = group
            literal.convertible = literal.convertible and plain
    return literals


def _raw(source, start, quote, prefix):
    """A raw string literal, read in the physical text: a raw string undoes splices."""
    text = source.text
    opening = source.physical_of(quote)
    paren = text.find("(", opening + 1, opening + 18)
    delimiter = text[opening + 1:paren] if paren >= 0 else None
    if delimiter is None or any(c in delimiter for c in ' ()\\\t\v\f\n"'):
        return None
    closing = text.find(")" + delimiter + '"', paren + 1)
    if closing < 0:
        return None
    after = closing + len(delimiter) + 2
    return Literal('"', prefix[:-1], start, source.logical_of(after - 1) + 1,
                   raw_body=(paren + 1, closing))


class Unmappable(Exception):
    pass


def _octal(code):
    return "".join("\\%03o" % byte for byte in code)


def _encode(source, character, physical, problems, escaped=False):
    if not escaped and 0xDC80 <= ord(character) <= 0xDCFF:
        problems.append("%s:%d: error: invalid UTF-8 byte 0x%02X in a string literal" %
                        (source.path, source.line_of(physical), ord(character) - 0xDC00))
        return ""
    code = cp932_bytes(character)
    if code is None:
        problems.append('%s:%d: error: "%s" (U+%04X) has no code page 932 encoding' %
                        (source.path, source.line_of(physical), character, ord(character)))
        return ""
    return _octal(code)


def _convert_quoted(source, literal, problems):
    s = source.logical
    out = [literal.kind]
    k = literal.start + 1
    last = literal.end - 1
    while k < last:
        c = s[k]
        if c == "\\" and s[k + 1] in "uU":
            digits = 4 if s[k + 1] == "u" else 8
            value = s[k + 2:k + 2 + digits]
            if len(value) == digits and all(d in "0123456789abcdefABCDEF" for d in value):
                out.append(_encode(source, chr(int(value, 16)), source.physical_of(k), problems, True))
                k += 2 + digits
                continue
            out.append(s[k:k + 2])
            k += 2
        elif c == "\\" and s[k + 1] == "x":
            j = k + 2
            while j < last and s[j] in "0123456789abcdefABCDEF":
                j += 1
            out.append(s[k:j])
            k = j
        elif c == "\\" and s[k + 1] in "01234567":
            j = k + 2
            while j < min(k + 4, last) and s[j] in "01234567":
                j += 1
            out.append(s[k:j])
            k = j
        elif c == "\\":
            out.append(s[k:k + 2])
            k += 2
        elif ord(c) >= 0x80:
            out.append(_encode(source, c, source.physical_of(k), problems))
            k += 1
        else:
            out.append(c)
            k += 1
    out.append(literal.kind)
    return "".join(out)


def _convert_raw(source, literal, problems):
    first, last = literal.raw_body
    out = ['"']
    text = source.text
    for k in range(first, last):
        c = text[k]
        if c == "\r" and text[k + 1:k + 2] == "\n":
            continue
        if c == "\n":
            out.append("\\n")
        elif c in '\\"':
            out.append("\\" + c)
        elif ord(c) >= 0x80:
            out.append(_encode(source, c, k, problems))
        elif c == "\t" or " " <= c <= "~":
            out.append(c)
        else:
            out.append(_octal(c.encode("ascii")))
    out.append('"')
    return "".join(out)


def _needs_converting(source, literal):
    if not (literal.convertible and literal.plain):
        return False
    if literal.raw_body:
        body = source.text[literal.raw_body[0]:literal.raw_body[1]]
        return any(ord(c) >= 0x80 for c in body)
    body = source.logical[literal.start:literal.end]
    return any(ord(c) >= 0x80 for c in body) or re.search(r"\\[uU]", body) is not None


def needs_copy(source):
    """The literals a compiler without an execution character set would get wrong."""
    return [literal for literal in lex(source) if _needs_converting(source, literal)]


def convert(source, line_name):
    """The converted copy's text, or raises Unmappable with one message a problem."""
    problems = []
    pieces = []
    copied = 0
    text = source.text
    for literal in needs_copy(source):
        begin, end = source.span(literal)
        if literal.raw_body:
            new = _convert_raw(source, literal, problems)
        else:
            new = _convert_quoted(source, literal, problems)
        # The literal's lines become splices after it, so every later line keeps its number.
        pieces.append(text[copied:begin])
        pieces.append(new + "\\\n" * text.count("\n", begin, end))
        copied = end
    pieces.append(text[copied:])
    if problems:
        raise Unmappable("\n".join(problems))
    quoted_name = line_name.replace("\\", "\\\\").replace('"', '\\"')
    return '#line 1 "%s"\n' % quoted_name + "".join(pieces)


def read(path):
    with open(path, "rb") as file:
        return Source(path, file.read())


def _write(path, text):
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    temporary = path + ".tmp"
    with open(temporary, "wb") as file:
        file.write(text.encode("utf-8", "surrogateescape"))
    os.replace(temporary, path)


def _list(path):
    with open(path, encoding="utf-8") as file:
        return [line.rstrip("\n") for line in file if line.strip()]


def _header_problems(headers):
    problems = []
    for header in headers:
        source = read(header)
        for literal in needs_copy(source):
            problems.append(
                "%s:%d: error: non-ASCII text in a string or character literal of a header; "
                "clang builds convert only source files to code page 932: move it into one" %
                (header, source.line_of(source.physical_of(literal.start))))
    return problems


def main(argv):
    if len(argv) == 3 and argv[0] == "--scan":
        problems = _header_problems(_list(argv[2]))
        if problems:
            print("\n".join(problems), file=sys.stderr)
            return 1
        for path in _list(argv[1]):
            if needs_copy(read(path)):
                print(path)
        return 0
    if len(argv) == 4 and argv[0] == "--guard":
        problems = _header_problems(_list(argv[2]))
        for path in _list(argv[1]):
            source = read(path)
            for literal in needs_copy(source)[:1]:
                problems.append(
                    "%s:%d: note: now holds text to convert to code page 932; "
                    "the build configures again to convert it: run the build again" %
                    (path, source.line_of(source.physical_of(literal.start))))
        if problems:
            print("\n".join(problems), file=sys.stderr)
            for listing in argv[1:3]:
                os.utime(listing)
            return 1
        _write(argv[3], "")
        return 0
    if len(argv) == 2 and not argv[0].startswith("-"):
        source_path, copy_path = argv
        try:
            text = convert(read(source_path), source_path)
        except Unmappable as problem:
            print(problem, file=sys.stderr)
            if os.path.exists(copy_path):
                os.remove(copy_path)
            return 1
        _write(copy_path, text)
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
