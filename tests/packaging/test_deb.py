"""The .deb that CPack builds: its control fields, its files, its declared
dependencies, and its programs started from where it installs them. With
CI=true (as root) it is installed for real with dpkg -i and removed again;
elsewhere it is unpacked into a scratch root."""

import glob
import os
import re
import subprocess
import tempfile
import unittest

import installed

# Loaded at run time rather than linked, so dpkg-shlibdeps cannot find it.
FONT_PACKAGE = "fonts-ipafont-gothic"
# What the windowed programs link; dpkg-shlibdeps must have found each.
LINKED_PACKAGES = ["libc6", "libstdc++6", "libsdl2-2.0-0", "libfreetype6", "libfontconfig1",
                   "libwayland-client0"]


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout


def parse_depends(field):
    """[[(name, relation, version), ...alternatives], ...] of a Depends field."""
    clauses = []
    for clause in field.split(","):
        alternatives = []
        for alternative in clause.split("|"):
            match = re.fullmatch(r"\s*([a-z0-9][a-z0-9.+-]*)(?::\w+)?\s*(?:\((<<|<=|=|>=|>>)\s*([^)\s]+)\))?\s*",
                                 alternative)
            if not match:
                raise ValueError(f"bad Depends clause {clause!r}")
            alternatives.append(match.groups())
        clauses.append(alternatives)
    return clauses


def installed_version(package):
    result = subprocess.run(["dpkg-query", "-W", "-f=${Status}\t${Version}", package],
                            capture_output=True, text=True)
    if result.returncode != 0:
        return None
    status, version = result.stdout.split("\t")
    return version if status == "install ok installed" else None


def satisfied(name, relation, version):
    have = installed_version(name)
    if have is None:
        return False
    if relation is None:
        return True
    operator = {"<<": "lt", "<=": "le", "=": "eq", ">=": "ge", ">>": "gt"}[relation]
    return subprocess.run(["dpkg", "--compare-versions", have, operator, version]).returncode == 0


class DebianPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="tovalinex-deb-")
        subprocess.run(["cpack", "-G", "DEB", "-B", cls.scratch.name,
                        "--config", os.path.join(installed.BUILD_DIR, "CPackConfig.cmake")],
                       check=True, stdout=subprocess.DEVNULL)
        packages = glob.glob(os.path.join(cls.scratch.name, "*.deb"))
        assert len(packages) == 1, packages
        cls.package = packages[0]

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def field(self, name):
        return run("dpkg-deb", "-f", self.package, name).strip()

    def test_control_fields(self):
        self.assertEqual(self.field("Package"), "tovalinex")
        self.assertEqual(self.field("Architecture"), run("dpkg", "--print-architecture").strip())
        self.assertEqual(self.field("Section"), "games")
        self.assertRegex(self.field("Maintainer"), r"^[^<>]+ <[^<>@\s]+@[^<>@\s]+>$")
        self.assertTrue(self.field("Description").strip())

    def test_depends_declares_what_the_programs_need_and_no_more(self):
        clauses = parse_depends(self.field("Depends"))
        names = {name for alternatives in clauses for name, _relation, _version in alternatives}
        for package in [FONT_PACKAGE] + LINKED_PACKAGES:
            self.assertIn(package, names)
        for name in names:
            self.assertFalse(name.endswith("-dev"), name)
            # libpng is for the headless twins; only FreeType itself uses it here.
            self.assertNotRegex(name, r"^(libpng|libgtest|libgmock|libbenchmark)", name)
        # And it installs on this Debian: every clause is met by what is installed.
        for alternatives in clauses:
            self.assertTrue(any(satisfied(*alternative) for alternative in alternatives), alternatives)

    def test_files_and_entries_under_usr(self):
        with tempfile.TemporaryDirectory(prefix="tovalinex-root-") as root:
            run("dpkg-deb", "-x", self.package, root)
            self.assertEqual(installed.files_under(root), {f"usr/{path}" for path in installed.expected_files()})
            installed.check_tree(self, os.path.join(root, "usr"), "/usr")
            for program in installed.PROGRAMS:
                sections = run("readelf", "-S", os.path.join(root, "usr/bin", program))
                self.assertNotIn(".debug_info", sections, f"{program} is not stripped")

    def test_installed_programs_start(self):
        if os.environ.get("CI") == "true" and os.geteuid() == 0:
            self.start_from_a_real_install()
        else:
            with tempfile.TemporaryDirectory(prefix="tovalinex-root-") as root:
                run("dpkg-deb", "-x", self.package, root)
                entries = {program: installed.read_entry(
                    os.path.join(root, f"usr/share/applications/tovalinex-{program}.desktop"))
                    for program in installed.PROGRAMS}
                installed.check_entries_start(self, entries, root=root)

    def start_from_a_real_install(self):
        install = subprocess.run(["dpkg", "-i", self.package], capture_output=True, text=True)
        try:
            self.assertEqual(install.returncode, 0, install.stdout + install.stderr)
            self.assertEqual(installed_version("tovalinex"), self.field("Version"))
            entries = {program: installed.read_entry(f"/usr/share/applications/tovalinex-{program}.desktop")
                       for program in installed.PROGRAMS}
            installed.check_entries_start(self, entries)
        finally:
            subprocess.run(["dpkg", "-r", "tovalinex"], capture_output=True)


if __name__ == "__main__":
    unittest.main()
