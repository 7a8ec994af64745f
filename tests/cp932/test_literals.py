"""The converted literals of clang builds (cmake/cp932_literals.py) against GCC's
own -fexec-charset=CP932: the same bytes for every literal of the project and
for the lexer's hard cases, the same mapping as glibc's iconv, and errors that
name the file, line and character."""
import os
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR = os.environ["TOVALINEX_SOURCE_DIR"]
GXX = os.environ.get("TOVALINEX_GXX")
sys.path.insert(0, os.path.join(SOURCE_DIR, "cmake"))
import cp932_literals as converter  # noqa: E402


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as file:
        file.write(text)


def assembly(path, *options):
    """g++'s assembly for one file, without the lines that name the file or compiler."""
    result = subprocess.run([GXX, "-std=c++17", "-w", "-O0", "-g0", "-S", "-o", "-", path, *options],
                            capture_output=True, text=True, errors="replace")
    if result.returncode != 0:
        raise AssertionError("g++ failed on %s:\n%s" % (path, result.stderr))
    return [line for line in result.stdout.splitlines()
            if not line.lstrip().startswith((".file", ".ident"))]


class Workspace(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory(prefix="cp932-")
        self.root = self.directory.name

    def tearDown(self):
        self.directory.cleanup()

    def convert(self, name, text):
        """Writes src/NAME and converts it into copy/NAME: (exit status, stderr, copy's text)."""
        source = os.path.join(self.root, "src", name)
        copy = os.path.join(self.root, "copy", name)
        write(source, text)
        result = subprocess.run(
            [sys.executable, os.path.join(SOURCE_DIR, "cmake", "cp932_literals.py"), source, copy],
            capture_output=True, text=True)
        copied = None
        if os.path.exists(copy):
            with open(copy, encoding="utf-8") as file:
                copied = file.read()
        return result.returncode, result.stderr, copied

    def assert_same_as_gcc(self, name, text):
        status, errors, _ = self.convert(name, text)
        self.assertEqual(status, 0, errors)
        source = os.path.join(self.root, "src", name)
        expected = assembly(source, "-fexec-charset=CP932")
        actual = assembly(os.path.join(self.root, "copy", name), "-iquote",
                          os.path.dirname(source))
        self.assertEqual(actual, expected)


# Each case is a whole translation unit; GCC compiles the original with
# -fexec-charset=CP932 and the converted copy as it is, and the assembly must
# match: every byte of every literal, and __LINE__ and __FILE__.
HARD_CASES = {
    "comments_and_numbers.cpp": r'''
// "表" in a comment, and it's not a literal
/* "～" spans
   'lines' */
int n = 1'000'000; const char* a = "表"; char c = 'x';
unsigned h = 0x7fff'ffff; const char* b = "～"; long m = 0b1010'1010;
double f = 1'234.5'6; const char* d = "表'";
int o = 1'000; const char* g = u8"表"; char q = 'y';
int p = 0x1'f; const char* i = "'"; const char* j = u8"～"; const char* k = "'";
// a comment that goes on \
"表" is still the comment
const char* e = "表"; int line = __LINE__; const char* file = __FILE__;
''',
    "escapes.cpp": r'''
const char* a = "～\x81\x60表1表a\"表\\";
const char* b = "\1表\0771\n表\t";
const char* c = "\u8868\U0000FF5E";
const char* d = "表\?\a";
char e = '\'';
long f = 'あ';
char g = '｡';
char h = '\x81';
''',
    "raw_strings.cpp": r'''
#include "Sibling.h"
const char* a = R"(表\n"q")";
const char* b = R"xy(
表 )" ～ \
)xy";
int afterRaw = __LINE__;
const char* c = R"(plain)" "表";
int afterAll = __LINE__ + SIBLING;
''',
    "directives.cpp": r'''
#include "表.h"
# include "Sibling.h"
#pragma GCC diagnostic ignored "-Wmultichar" // "表"
#define TEXT "表" "～"
const char* a = TEXT; int kanji = KANJI;
#line 40 "/elsewhere/moved.cpp"
const char* b = __FILE__; int c = __LINE__;
''',
    "continuations.cpp": r'''
const char* a = "ab\
表cd";
const char* b = u8\
"表";
const char* c = R\
"(表)";
int line = __LINE__;
#define TEXT "表" \
  "～"
const char* d = TEXT;
''',
    "prefixes.cpp": r'''
const char* a = u8"表"; const char16_t* b = u"表"; const char32_t* c = U"表";
const wchar_t* d = L"表"; const char* e = u8R"(表)"; const wchar_t* f = LR"(表)";
const char* g = u8"a" "表"; const char* h = "表" u8"a"; const wchar_t* i = L"" "表";
const char* j = "a"
  "表";
const char* k = "\u8868" u8"";
char16_t l = u'表'; char m = u8'a';
#if 0
it's "表" in a skipped block
#endif
''',
    # glibc's choices where Python's codec differs: the one-way ¥ ‾ — and
    # the IBM extension codes (0xFA..) for characters with two codes.
    "glibc_choices.cpp": r'''
const char* a = "¥‾—";
const char* b = "ⅰⅹ丨增";
const char* c = "∵≒￢";
''',
}


@unittest.skipUnless(GXX, "g++ is the reference and is missing")
class SameBytesAsGcc(Workspace):
    def test_hard_cases(self):
        write(os.path.join(self.root, "src", "Sibling.h"), "#define SIBLING 1\n")
        write(os.path.join(self.root, "src", "表.h"), "#define KANJI 2\n")
        for name, text in HARD_CASES.items():
            with self.subTest(name):
                self.assert_same_as_gcc(name, text)

    def test_every_literal_of_the_project(self):
        # Every string (with those joined to it) and character literal of every
        # source and header, as its own definition in one probe file.
        definitions = []
        files = 0
        for directory, subdirectories, names in os.walk(SOURCE_DIR):
            subdirectories[:] = [d for d in subdirectories if not d.startswith(".")
                                 and not os.path.exists(os.path.join(directory, d, "CMakeCache.txt"))]
            for name in sorted(names):
                if not name.endswith((".cpp", ".h")):
                    continue
                files += 1
                source = converter.read(os.path.join(directory, name))
                done = set()
                for literal in converter.lex(source):
                    if literal.kept or id(literal.joined) in done:
                        continue
                    parts = literal.joined or [literal]
                    done.add(id(literal.joined))
                    spelling = " ".join(source.text[slice(*source.span(part))] for part in parts)
                    if literal.kind == "'":
                        definitions.append("extern const long long C%d = %s;" % (len(definitions), spelling))
                    else:
                        definitions.append("extern const void* const S%d = %s;" % (len(definitions), spelling))
        self.assertGreater(files, 40)
        self.assertGreater(len(definitions), 300)
        status, errors, copied = self.convert("probe.cpp", "\n".join(definitions) + "\n")
        self.assertEqual(status, 0, errors)
        # The project's own "表" (its second byte is a backslash) and "～" are in it.
        self.assertIn(r"\225\134", copied)
        self.assertIn(r"\201\140", copied)
        source = os.path.join(self.root, "src", "probe.cpp")
        self.assertEqual(assembly(os.path.join(self.root, "copy", "probe.cpp")),
                         assembly(source, "-fexec-charset=CP932"))


class CopyText(Workspace):
    def test_literals_become_three_digit_octal_and_the_rest_stays(self):
        original = ('// "表" stays\n'
                    'const char* a = "表A～";  /* "～" */\n'
                    'const char* b = u8"表"; const char* c = "\\x81\\x60";\n')
        status, errors, copied = self.convert("a.cpp", original)
        self.assertEqual(status, 0, errors)
        lines = copied.split("\n")
        self.assertEqual(lines[0], '#line 1 "%s"' % os.path.join(self.root, "src", "a.cpp"))
        self.assertEqual(lines[1], '// "表" stays')
        self.assertEqual(lines[2], 'const char* a = "\\225\\134A\\201\\140";  /* "～" */')
        self.assertEqual(lines[3], 'const char* b = u8"表"; const char* c = "\\x81\\x60";')

    def test_lines_keep_their_numbers(self):
        original = 'const char* a = R"(\n表\n)"; int b;\nconst char* c = "表\\\n～";\nint d;\n'
        status, errors, copied = self.convert("lines.cpp", original)
        self.assertEqual(status, 0, errors)
        lines = copied.split("\n")[1:]
        self.assertEqual(len(lines), len(original.split("\n")))
        self.assertEqual(lines[0], 'const char* a = "\\n\\225\\134\\n"\\')
        self.assertEqual(lines[1:3], ["\\", "; int b;"])
        self.assertEqual(lines[3:6], ['const char* c = "\\225\\134\\201\\140"\\', ";", "int d;"])

    def test_line_directive_escapes_the_path(self):
        source = converter.Source("a.cpp", '"表"'.encode("utf-8"))
        text = converter.convert(source, 'C:\\src\\"odd".cpp')
        self.assertTrue(text.startswith('#line 1 "C:\\\\src\\\\\\"odd\\".cpp"\n'))

    def test_a_character_code_page_932_lacks_is_an_error(self):
        status, errors, copied = self.convert(
            "bad.cpp", '// 한 in a comment is fine\nint a;\nconst char* b = "x한";\n')
        self.assertEqual(status, 1)
        self.assertIsNone(copied)
        self.assertIn(os.path.join(self.root, "src", "bad.cpp") + ":3: error:", errors)
        self.assertIn('"한" (U+D55C)', errors)
        status, errors, _ = self.convert("ucn.cpp", 'int a;\nconst char* b = "\\U0001F600";\n')
        self.assertEqual(status, 1)
        self.assertIn("ucn.cpp:2: error:", errors)
        self.assertIn("U+1F600", errors)
        # Characters only Python's codec maps, not glibc's.
        status, errors, _ = self.convert("pua.cpp", 'const char* b = "\uf8f0";\n')
        self.assertEqual(status, 1)
        self.assertIn("U+F8F0", errors)

    def test_invalid_utf8_is_an_error(self):
        path = os.path.join(self.root, "src", "latin1.cpp")
        os.makedirs(os.path.dirname(path))
        with open(path, "wb") as file:
            file.write(b'int a;\nconst char* b = "caf\xe9";\n')
        result = subprocess.run(
            [sys.executable, os.path.join(SOURCE_DIR, "cmake", "cp932_literals.py"), path,
             os.path.join(self.root, "out.cpp")], capture_output=True, text=True)
        self.assertEqual(result.returncode, 1)
        self.assertIn("latin1.cpp:2: error: invalid UTF-8 byte 0xE9", result.stderr)

    def test_a_failed_conversion_removes_an_older_copy(self):
        status, _, _ = self.convert("again.cpp", 'const char* a = "表";\n')
        self.assertEqual(status, 0)
        status, _, copied = self.convert("again.cpp", 'const char* a = "한";\n')
        self.assertEqual(status, 1)
        self.assertIsNone(copied)


class Scan(Workspace):
    def lists(self, sources, headers):
        for path, text in {**sources, **headers}.items():
            write(os.path.join(self.root, path), text)
        lists = []
        for name, paths in (("sources.txt", sources), ("headers.txt", headers)):
            lists.append(os.path.join(self.root, name))
            write(lists[-1], "".join(os.path.join(self.root, p) + "\n" for p in paths))
        return lists

    def run_script(self, *arguments):
        return subprocess.run(
            [sys.executable, os.path.join(SOURCE_DIR, "cmake", "cp932_literals.py"), *arguments],
            capture_output=True, text=True)

    def test_only_sources_whose_literals_change_need_a_copy(self):
        sources, headers = self.lists(
            {"text.cpp": 'auto a = "表";\n', "comment.cpp": '// ～ only here\nint a;\n',
             "ucn.cpp": 'auto a = "\\u8868";\n', "wide.cpp": 'auto a = L"表";\n',
             "ascii.cpp": 'auto a = "plain";\n'},
            {"Mark.h": '// "●" in code page 932\n#define A 1\n'})
        result = self.run_script("--scan", sources, headers)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.split(),
                         [os.path.join(self.root, "text.cpp"), os.path.join(self.root, "ucn.cpp")])

    def test_a_header_with_japanese_literals_is_refused(self):
        sources, headers = self.lists({"a.cpp": "int a;\n"},
                                      {"Texts.h": '#pragma once\n\nconst char Title[] = "表";\n'})
        result = self.run_script("--scan", sources, headers)
        self.assertEqual(result.returncode, 1)
        self.assertIn(os.path.join(self.root, "Texts.h") + ":3: error:", result.stderr)

    def test_the_guard_sends_a_source_that_gained_text_back_to_cmake(self):
        sources, headers = self.lists({"a.cpp": "int a;\n"}, {})
        stamp = os.path.join(self.root, "plain.stamp")
        self.assertEqual(self.run_script("--guard", sources, headers, stamp).returncode, 0)
        self.assertTrue(os.path.exists(stamp))
        os.remove(stamp)
        os.utime(sources, (1, 1))
        write(os.path.join(self.root, "a.cpp"), 'int a;\nauto b = "表";\n')
        result = self.run_script("--guard", sources, headers, stamp)
        self.assertEqual(result.returncode, 1)
        self.assertIn("a.cpp:2: note:", result.stderr)
        self.assertFalse(os.path.exists(stamp))
        self.assertGreater(os.stat(sources).st_mtime, 1)


@unittest.skipUnless(subprocess.run(["sh", "-c", "command -v iconv"], capture_output=True).returncode == 0,
                     "iconv is missing")
class SameMappingAsGlibc(unittest.TestCase):
    def test_every_character_of_the_basic_plane(self):
        characters = [chr(c) for c in range(0x80, 0x10000) if not 0xD800 <= c < 0xE000]
        # One character a line; -c drops what CP932 lacks, leaving the line empty.
        result = subprocess.run(["iconv", "-c", "-f", "UTF-8", "-t", "CP932"],
                                input="\n".join(characters).encode("utf-8"), capture_output=True)
        glibc = result.stdout.split(b"\n")
        self.assertEqual(len(glibc), len(characters))
        mapped = 0
        differences = []
        for character, code in zip(characters, glibc):
            ours = converter.cp932_bytes(character)
            if ours != (code or None):
                differences.append("U+%04X: ours %r, glibc %r" % (ord(character), ours, code))
            mapped += code != b""
        self.assertEqual(differences, [])
        self.assertGreater(mapped, 9000)


if __name__ == "__main__":
    unittest.main()
