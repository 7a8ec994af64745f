"""The conversion inside a real clang build: a small project set up with the
project's cmake/Compiler.cmake runs with the right bytes, names its checked-in
files, rebuilds after an edit and fails clearly on text it cannot convert."""
import os
import shutil
import subprocess
import tempfile
import unittest

SOURCE_DIR = os.environ["TOVALINEX_SOURCE_DIR"]
CLANG = shutil.which("clang++")

FILES = {
    "CMakeLists.txt": """cmake_minimum_required(VERSION 3.25)
project(Cp932Probe LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 17)
include(%s/cmake/Compiler.cmake)
add_subdirectory(app)
tovalinex_cp932_literals()
""" % SOURCE_DIR,
    "app/CMakeLists.txt": "add_executable(show Show.cpp Plain.cpp)\n",
    "app/Sibling.h": "const char* PlainText();\n",
    "app/Show.cpp": """#include <cstdio>
#include "Sibling.h"

static void Hex(const char* text) {
  for (; *text; ++text) std::printf("%02x", static_cast<unsigned char>(*text));
  std::printf(" ");
}

int main() {
  int unused;
  Hex("表～");
  Hex(PlainText());
  std::printf("%s:%d\\n", __FILE__, __LINE__);
}
""",
    "app/Plain.cpp": 'const char* PlainText() { return "ab"; }\n',
}


@unittest.skipUnless(CLANG, "clang++ is missing")
class ClangBuild(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory(prefix="cp932-build-")
        self.root = self.directory.name
        self.source = os.path.join(self.root, "src")
        self.build_dir = os.path.join(self.root, "build")
        for path, text in FILES.items():
            self.write(path, text)

    def tearDown(self):
        self.directory.cleanup()

    def write(self, path, text):
        path = os.path.join(self.source, path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as file:
            file.write(text)

    def edit(self, path, old, new):
        with open(os.path.join(self.source, path), encoding="utf-8") as file:
            text = file.read()
        self.assertIn(old, text)
        self.write(path, text.replace(old, new))

    def build(self):
        return subprocess.run(["cmake", "--build", self.build_dir], capture_output=True, text=True)

    def show(self):
        result = self.build()
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        return result, subprocess.run([os.path.join(self.build_dir, "app", "show")], capture_output=True,
                                      text=True, check=True).stdout.split()

    def test_build_edit_and_errors(self):
        subprocess.run(["cmake", "-S", self.source, "-B", self.build_dir, "-DCMAKE_CXX_COMPILER=" + CLANG],
                       capture_output=True, check=True)
        show_cpp = os.path.join(self.source, "app", "Show.cpp")
        result, shown = self.show()
        # CP932 bytes, the sibling header found, __FILE__ and __LINE__ of the original.
        self.assertEqual(shown, ["955c8160", "6162", show_cpp + ":13"])
        # Diagnostics name the checked-in file and line.
        self.assertIn(show_cpp + ":10:7: warning: unused variable 'unused'", result.stdout + result.stderr)

        self.edit("app/Show.cpp", "表～", "あ")
        self.assertEqual(self.show()[1][0], "82a0")

        # A file compiled as it is that gains Japanese text: this build stops
        # and says why, the next one converts it.
        self.edit("app/Plain.cpp", '"ab"', '"表"')
        result = self.build()
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(os.path.join(self.source, "app", "Plain.cpp") + ":1: note:", result.stdout + result.stderr)
        self.assertEqual(self.show()[1][1], "955c")

        self.edit("app/Show.cpp", '"あ"', '"あ\\n한"')
        result = self.build()
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(show_cpp + ':11: error: "한" (U+D55C) has no code page 932 encoding',
                      result.stdout + result.stderr)

        # Headers are not converted: one with Japanese text is refused.
        self.edit("app/Show.cpp", '"あ\\n한"', '"あ"')
        self.write("app/Sibling.h", 'const char* PlainText();\nconst char Title[] = "表";\n')
        self.build()
        result = self.build()
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(os.path.join(self.source, "app", "Sibling.h") + ":2: error: non-ASCII text",
                      result.stdout + result.stderr)


if __name__ == "__main__":
    unittest.main()
