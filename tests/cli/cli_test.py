#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The command-line surface of oxa-detect: its manual page renders without
warnings; the manual page, --help, the README's option list and the bash
completion name the same options, each of which the tool accepts; and the
completion, sourced into bash, completes options and files.

usage: cli_test.py --tool EXE --manual FILE --readme FILE --completion FILE
                   [unittest arguments, e.g. a test class name]
"""

import argparse
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest

ARGS = argparse.Namespace()


def run(command, env=None):
    return subprocess.run(command, capture_output=True, text=True, env=env, timeout=60, check=False)


def signature(text):
    """'--smbios [FILE]' -> ['--smbios [FILE]']; '-h, --help' -> ['-h', '--help']."""
    return [" ".join(alternative.split()) for alternative in text.split(",")]


def long_only(signatures):
    return sorted(s for s in signatures if s.startswith("--"))


def help_options():
    """The first column of each option line of --help."""
    done = run([ARGS.tool, "--help"])
    assert done.returncode == 0, done.stderr
    found = []
    for line in done.stdout.splitlines():
        m = re.match(r"^ {2}(-\S+(?:,? [^ ]\S*)*)(?: {2,}|$)", line)
        if m:
            found += signature(m.group(1))
    return found


def roff_text(line):
    """The text a man(7) font macro line prints: '.BR \\-\\-smbios " [" \\fIFILE\\fP ]' -> '--smbios [FILE]'."""
    line = line.replace("\\-", "-").replace("\\&", "")
    line = re.sub(r"\\f[BIRP]", "", line)
    macro, _, rest = line.partition(" ")
    words = shlex.split(rest)
    # .B and .I join their words with spaces; .BR, .BI, .IR... alternate
    # fonts with no space between words.
    return " ".join(words) if macro in (".B", ".I") else "".join(words)


def manual_sections():
    """The roff source's lines by section name."""
    sections = {}
    name = None
    with open(ARGS.manual, encoding="utf-8") as f:
        for line in f.read().splitlines():
            if line.startswith(".SH "):
                name = line[4:].strip().strip('"')
                sections[name] = []
            elif name is not None:
                sections[name].append(line)
    return sections


def manual_options():
    """The tag of each .TP paragraph in OPTIONS."""
    lines = manual_sections()["OPTIONS"]
    found = []
    for i, line in enumerate(lines):
        if line == ".TP" and i + 1 < len(lines):
            found += signature(roff_text(lines[i + 1]))
    return found


def readme_options():
    """The 'Tool options:' block: one indented 'oxa-detect OPTION  what' line each."""
    with open(ARGS.readme, encoding="utf-8") as f:
        lines = f.read().splitlines()
    start = lines.index("Tool options:") + 1
    found = []
    for line in lines[start:]:
        if line and not line.startswith("    "):
            break
        m = re.match(r"^ {4}oxa-detect(?: (\S+(?: [^ ]\S*)*))?(?: {2,}|$)", line)
        if m and m.group(1):
            found += signature(m.group(1))
    return found


# Sources the completion into a bare bash, asks the function it registered
# for oxa-detect to complete the words given (the last one is the word under
# the cursor) and prints its answers one a line.
COMPLETE = r"""
source "$1" || exit 1
shift
registered=$(complete -p oxa-detect) || exit 1
function=${registered##*-F }
function=${function%% *}
COMP_WORDS=("$@")
COMP_CWORD=$(($# - 1))
COMP_LINE="$*"
COMP_POINT=${#COMP_LINE}
COMPREPLY=()
"$function" oxa-detect "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
((${#COMPREPLY[@]} == 0)) || printf '%s\n' "${COMPREPLY[@]}"
"""


def complete(line, cwd=None):
    """The completions of a command line; a final blank asks for a new word."""
    words = line.split() + ([""] if line.endswith(" ") else [])
    done = subprocess.run(["bash", "--norc", "--noprofile", "-c", COMPLETE, "complete", ARGS.completion] + words,
                          capture_output=True, text=True, cwd=cwd, timeout=60, check=False)
    assert done.returncode == 0 and done.stderr == "", f"{line!r}: {done.returncode} {done.stderr}"
    return sorted(done.stdout.splitlines())


class OptionLists(unittest.TestCase):
    def test_each_list_is_found_and_free_of_repeats(self):
        for what, options in (("--help", help_options()), ("manual", manual_options()),
                              ("README", readme_options())):
            with self.subTest(what):
                self.assertIn("--version", options)
                self.assertEqual(len(options), len(set(options)), options)

    def test_manual_names_the_options_of_help_readme_and_completion(self):
        self.assertEqual(sorted(manual_options()), sorted(help_options()), "manual page and --help")
        manual = long_only(manual_options())
        self.assertEqual(manual, long_only(readme_options()), "manual page and README")
        self.assertEqual(sorted({option.split()[0] for option in manual}), complete("oxa-detect --"),
                         "manual page and bash completion")

    def test_synopsis_names_every_long_option(self):
        synopsis = " ".join(roff_text(line) if line.startswith(".") else line
                            for line in manual_sections()["SYNOPSIS"])
        for option in long_only(manual_options()):
            with self.subTest(option):
                self.assertRegex(synopsis, r"(^|[^-\w])" + re.escape(option.split()[0]) + r"($|[^-\w])")

    def test_the_tool_accepts_every_option_of_the_manual(self):
        # The check itself: an option the tool does not know is reported.
        self.assertIn("unknown option", run([ARGS.tool, "--no-such-option"]).stderr)
        for option in manual_options():
            with self.subTest(option):
                name, _, argument = option.partition(" ")
                command = [ARGS.tool, name]
                if argument:  # a file that is not there: refused as input, not as option
                    command.append("/nonexistent/oxa-cli-test")
                done = run(command)
                self.assertNotIn("unknown option", done.stderr)
                self.assertNotIn("usage:", done.stderr)


def readme_words():
    """The README's table of words by group: the words of each row, in order."""
    with open(ARGS.readme, encoding="utf-8") as f:
        lines = f.read().splitlines()
    start = lines.index("| group | words |") + 2
    groups = []
    for line in lines[start:]:
        if not line.startswith("| "):
            break
        groups.append(re.findall(r"`([^`]+)`", line.split("|")[2]))
    return groups


def listed(*options):
    done = run([ARGS.tool, "--list", *options])
    assert done.returncode == 0 and done.stderr == "", done.stderr
    return [group.splitlines() for group in done.stdout.split("\n\n")]


class Words(unittest.TestCase):
    def test_readme_table_is_the_tools_list(self):
        self.assertEqual(readme_words(), listed())

    def test_manual_and_help_name_the_word_of_a_vm_of_no_named_vendor(self):
        (hypervisors,) = listed("--vm")
        other = [word for word in hypervisors if word.endswith("-other")]
        self.assertEqual(len(other), 1, hypervisors)
        with open(ARGS.manual, encoding="utf-8") as f:
            self.assertIn(other[0].replace("-", "\\-"), f.read())
        self.assertIn(f'"{other[0]}"', run([ARGS.tool, "--help"]).stdout)


def readme_recipe(first_line):
    """The README's ```sh block that begins with `first_line`."""
    with open(ARGS.readme, encoding="utf-8") as f:
        blocks = re.findall(r"^```sh\n(.*?)^```$", f.read(), re.M | re.S)
    (block,) = [b for b in blocks if b.startswith(first_line)]
    return block


# One sample of the text format: a name, labels whose values escape only
# backslash, quote and newline, a number.
LABEL = r'[a-z_]+="(?:[^"\\\n]|\\[\\"n])*"'
METRIC = re.compile(rf"^(?P<name>[a-z_][a-z0-9_]*)(?:\{{{LABEL}(?:,{LABEL})*\}})? -?[0-9]+(?:\.[0-9]+)?$")


class Fleets(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = folder.name
        bin_dir = os.path.join(self.folder, "bin")
        os.mkdir(bin_dir)
        os.symlink(os.path.abspath(ARGS.tool), os.path.join(bin_dir, "oxa-detect"))
        self.env = dict(os.environ, PATH=f"{bin_dir}{os.pathsep}{os.environ['PATH']}")

    def run_recipe(self, script):
        done = subprocess.run(["sh", "-eu", "-c", script], capture_output=True, text=True, env=self.env,
                              cwd=self.folder, timeout=60, check=False)
        self.assertEqual((done.returncode, done.stderr), (0, ""))

    def test_textfile_collector_recipe_writes_the_metrics_in_place(self):
        recipe = readme_recipe("dir=/var/lib/prometheus/node-exporter\n")
        textfiles = os.path.join(self.folder, "textfiles")
        os.mkdir(textfiles)
        self.run_recipe(recipe.replace("dir=/var/lib/prometheus/node-exporter", f"dir={textfiles}", 1))
        self.assertEqual(os.listdir(textfiles), ["oxa.prom"], "the temporary file is renamed into place")
        with open(os.path.join(textfiles, "oxa.prom"), encoding="ascii") as f:
            text = f.read()
        names = set()
        for line in text.splitlines():
            if line.startswith("# HELP ") or line.startswith("# TYPE "):
                continue
            match = METRIC.match(line)
            self.assertIsNotNone(match, line)
            names.add(match["name"])
        self.assertEqual(names, {"oxa_vm_score", "oxa_verdict_info", "oxa_probe_status",
                                 "oxa_detection_duration_seconds"})
        self.assertRegex(text, r'(?m)^oxa_verdict_info\{likelihood="[a-z_]+",hypervisors="[^"]*",.*\} 1$')
        promtool = shutil.which("promtool")
        if promtool:
            done = subprocess.run([promtool, "check", "metrics"], input=text, capture_output=True, text=True,
                                  timeout=60, check=False)
            self.assertEqual((done.returncode, done.stdout, done.stderr), (0, "", ""))

    def test_ansible_local_fact_prints_the_report(self):
        recipe = readme_recipe("install -D -m 0755 /dev/stdin /etc/ansible/facts.d/oxa.fact")
        facts = os.path.join(self.folder, "facts.d")
        self.run_recipe(recipe.replace("/etc/ansible/facts.d", facts))
        fact = os.path.join(facts, "oxa.fact")
        self.assertTrue(os.access(fact, os.X_OK))
        done = subprocess.run([fact], capture_output=True, text=True, env=self.env, timeout=60, check=False)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn(json.loads(done.stdout)["vm_likelihood"],
                      ("very_likely", "likely", "possible", "not_detected", "unknown"))


class Completion(unittest.TestCase):
    def test_completes_options_and_files(self):
        with tempfile.TemporaryDirectory() as folder:
            for name in ("dump.json", "table.bin", "my dump.json"):
                with open(os.path.join(folder, name), "w", encoding="utf-8"):
                    pass
            files = ["dump.json", "my dump.json", "table.bin"]
            cases = [
                ("oxa-detect --s", ["--smbios", "--summary"]),
                ("oxa-detect --pr", ["--pretty", "--prometheus"]),
                ("oxa-detect --replay dump.json --b", ["--brief"]),
                ("oxa-detect --q", ["--quiet"]),
                ("oxa-detect --v", ["--version", "--vm"]),
                ("oxa-detect --c", ["--container"]),
                ("oxa-detect --list --", ["--brief", "--container", "--dump", "--help", "--list", "--pretty",
                                          "--prometheus", "--quiet", "--replay", "--smbios", "--summary",
                                          "--version", "--vm"]),
                ("oxa-detect --no-such", []),
                ("oxa-detect --replay ", files),
                ("oxa-detect --replay t", ["table.bin"]),
                ("oxa-detect --summary --replay my", ["my dump.json"]),
                # --smbios takes a file or no file.
                ("oxa-detect --smbios ", files),
                ("oxa-detect --smbios d", ["dump.json"]),
                ("oxa-detect --smbios --su", ["--summary"]),
                ("oxa-detect --smbios table.bin --p", ["--pretty", "--prometheus"]),
                # These take no other option.
                ("oxa-detect --dump ", []),
                ("oxa-detect --dump --", []),
                ("oxa-detect --version --", []),
                ("oxa-detect -h --", []),
            ]
            for line, expected in cases:
                with self.subTest(line):
                    self.assertEqual(complete(line, cwd=folder), expected)


class ManualPage(unittest.TestCase):
    def test_sections_once_each_in_the_usual_order(self):
        with open(ARGS.manual, encoding="utf-8") as f:
            names = [line[4:].strip().strip('"') for line in f.read().splitlines() if line.startswith(".SH ")]
        self.assertEqual(names, ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "OUTPUT", "EXIT STATUS", "FILES",
                                 "EXAMPLES", "SEE ALSO"])

    def test_renders_without_warnings(self):
        man = shutil.which("man")
        if man is None:
            self.skipTest("no man here")
        env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80", MANPAGER="cat", PAGER="cat")
        # man-db's man has --warnings; others (macOS's) have not.
        if "--warnings" not in run([man, "--help"], env=env).stdout:
            self.skipTest("this man has no --warnings")
        done = run([man, "--warnings", "-E", "UTF-8", "-l", ARGS.manual], env=env)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stderr, "")
        for heading in ("NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "FILES", "EXAMPLES"):
            self.assertRegex(done.stdout, rf"(?m)^{heading}$")


def main():
    parser = argparse.ArgumentParser(add_help=False)
    for option in ("--tool", "--manual", "--readme", "--completion"):
        parser.add_argument(option, required=True)
    _, rest = parser.parse_known_args(namespace=ARGS)
    ARGS.completion = os.path.abspath(ARGS.completion)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
