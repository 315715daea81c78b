#!/usr/bin/env python3
"""Holds docs/getting-started.md to what the tests run.

Every fenced block must say what it is:
  cpp    equal to a file of examples/cpp/, or to a marked excerpt of one (the lines
         between "// [doc NAME]" and "// [doc end]", indentation removed);
  cmake  equal to a CMakeLists.txt of examples/ or tests/install/outside/;
  sh     every command in COMMANDS below, which names the test that runs it (the
         test's script must still contain the line that runs it) or the check made
         here instead.
Indented code blocks are refused: they would escape the check.

usage: check_getting_started.py SOURCE_DIR BUILD_DIR [--doc FILE] | --selftest
"""
import os
import re
import subprocess
import sys
import textwrap


def runs(test_file, *needles):
    """The command is run by the test whose script is test_file (relative to tests/)."""
    return ("runs", test_file, needles)


def built(path):
    """A program path under build/rel: it must exist in the build tree checked."""
    return ("built", path)


def checked(fn, what):
    return ("checked", fn, what)


def setup_is_sound(src, build):
    path = os.path.join(src, "scripts/setup")
    if not os.access(path, os.X_OK):
        return "scripts/setup is not an executable file"
    if subprocess.run(["bash", "-n", path]).returncode != 0:
        return "scripts/setup does not parse"
    return None


def cmake_options_exist(src, build, command):
    text = open(os.path.join(src, "CMakeLists.txt")).read()
    for name in re.findall(r"-D(PELLORA_\w+)=", command):
        if not re.search(r"option\(%s\b|set\(%s\b" % (name, name), text):
            return "%s is not an option of the build" % name
    return None


EXAMPLES = ["list_accounts", "place_order", "watch_tables", "price_history"]

COMMANDS = {
    "scripts/setup": checked(setup_is_sound, "it parses; installing packages is left to a person"),
    "scripts/demo": runs("demo/run_demo_test.sh", 'demo="$src/scripts/demo"'),
    "cmake -S . -B build/rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLORA_TESTS=OFF":
        checked(lambda s, b: cmake_options_exist(s, b, "-DPELLORA_TESTS=OFF"), "its options exist"),
    "cmake --build build/rel": built("examples/cpp/example_place_order"),
    "build/rel/server/pellora-dealer --data /tmp/pellora-data":
        runs("examples/run_examples_test.sh", '"$dealer" --data "$tmp/data"'),
    "export PELLORA_USER=demo PELLORA_PASSWORD=demo":
        runs("examples/run_examples_test.sh", "export PELLORA_USER=demo PELLORA_PASSWORD=demo"),
    "cmake --install build/rel --prefix \"$HOME/pellora\"":
        runs("install/run_install_test.sh", 'cmake --install "$build" --prefix "$prefix"'),
    "cmake -S . -B build -DCMAKE_PREFIX_PATH=\"$HOME/pellora\"":
        runs("install/run_install_test.sh", '-DCMAKE_PREFIX_PATH="$prefix"'),
    "cmake --build build": runs("install/run_install_test.sh", 'cmake --build "$tmp/cmake-build"'),
    "export PKG_CONFIG_PATH=\"$HOME/pellora/lib/pkgconfig\"":
        runs("install/run_install_test.sh", 'export PKG_CONFIG_PATH="$libdir/pkgconfig"'),
    "c++ -std=c++17 main.cpp $(pkg-config --cflags --libs pellora-tamsel2) -Wl,-rpath,\"$HOME/pellora/lib\" -o outside":
        runs("install/run_install_test.sh", "pkg-config --cflags --libs pellora-tamsel2", "c++ -std=c++17",
             '-Wl,-rpath,"$pcdir"'),
}
for name in EXAMPLES:
    COMMANDS["build/rel/examples/cpp/example_" + name] = runs("examples/run_examples_test.sh", "run %s \"$url\"" % name)


def blocks(text):
    """(language, body, line) of each fenced block; errors for indented ones."""
    out, errors = [], []
    lines = text.split("\n")
    i = 0
    previous_blank = True
    while i < len(lines):
        line = lines[i]
        fence = re.match(r"^```(\S*)\s*$", line)
        if fence:
            start = i + 1
            i += 1
            while i < len(lines) and lines[i] != "```":
                i += 1
            if i == len(lines):
                errors.append("line %d: a fence that is never closed" % start)
            out.append((fence.group(1), "\n".join(lines[start:i]), start))
            previous_blank = False
        elif previous_blank and (line.startswith("    ") or line.startswith("\t")) and line.strip():
            errors.append("line %d: an indented code block (fence it, with its language)" % (i + 1))
        else:
            previous_blank = not line.strip()
        i += 1
    return out, errors


def excerpts(path):
    """The whole file and its marked excerpts."""
    text = open(path).read()
    found = {path: text.rstrip("\n")}
    for m in re.finditer(r"^[ \t]*// \[doc (\w+)\]\n(.*?)^[ \t]*// \[doc end\]", text, re.M | re.S):
        found["%s [%s]" % (path, m.group(1))] = textwrap.dedent(m.group(2)).rstrip("\n")
    return found


def commands(body):
    """The commands of a sh block: continuation lines joined, comments left out."""
    joined = re.sub(r"\\\n\s*", "", body)
    return [c.strip() for c in joined.split("\n") if c.strip() and not c.strip().startswith("#")]


def check(doc_text, src, build):
    found, errors = blocks(doc_text)
    programs = {}
    for root in ("examples/cpp",):
        for name in sorted(os.listdir(os.path.join(src, root))):
            if name.endswith((".cpp", ".h")):
                programs.update(excerpts(os.path.join(src, root, name)))
    cmake_files = [os.path.join(src, p) for p in ("examples/cpp/CMakeLists.txt", "tests/install/outside/CMakeLists.txt")]
    cmake_texts = [open(p).read().rstrip("\n") for p in cmake_files if os.path.exists(p)]
    registered = open(os.path.join(src, "tests/CMakeLists.txt")).read()
    for lang, body, line in found:
        if lang == "cpp":
            if body.rstrip("\n") not in programs.values():
                errors.append("line %d: a program that is no file or marked excerpt of examples/cpp" % line)
        elif lang == "cmake":
            if body.rstrip("\n") not in cmake_texts:
                errors.append("line %d: a CMakeLists.txt that no test builds" % line)
        elif lang == "sh":
            for command in commands(body):
                how = COMMANDS.get(command)
                if how is None:
                    errors.append("line %d: no test runs or checks '%s'" % (line, command))
                elif how[0] == "runs":
                    script = os.path.join(src, "tests", how[1])
                    text = open(script).read() if os.path.exists(script) else ""
                    for needle in how[2]:
                        if needle not in text:
                            errors.append("line %d: tests/%s no longer runs '%s' (%s)" % (line, how[1], command, needle))
                    if how[1] not in registered:
                        errors.append("line %d: tests/%s is not a test of tests/CMakeLists.txt" % (line, how[1]))
                elif how[0] == "built":
                    if build and not os.path.exists(os.path.join(build, how[1])):
                        errors.append("line %d: '%s' does not build %s" % (line, command, how[1]))
                else:
                    problem = how[1](src, build)
                    if problem:
                        errors.append("line %d: '%s': %s" % (line, command, problem))
                # Programs named under build/rel must be where the build puts them.
                m = re.match(r"^build/rel/(\S+)", command)
                if m and build and not os.path.exists(os.path.join(build, m.group(1))):
                    errors.append("line %d: the build puts no program at build/rel/%s" % (line, m.group(1)))
        else:
            errors.append("line %d: a block without a known language (cpp, cmake or sh): '%s'" % (line, lang))
    return errors


def selftest(src, build):
    """Each fault must be caught; the page as it is must pass."""
    good = open(os.path.join(src, "docs/getting-started.md")).read()
    bad = {
        "an unknown command": good + "\n```sh\nrm -rf build\n```\n",
        "a changed program": good.replace("map->setInt(ZelRequestParamsEnum::Amount, 10000);",
                                          "map->setInt(ZelRequestParamsEnum::Amount, 20000);", 1),
        "an indented block": good + "\nText.\n\n    make install\n",
        "a block without a language": good + "\n```\nmake\n```\n",
        "a changed CMakeLists": good.replace("find_package(Pellora 2 CONFIG REQUIRED)", "find_package(Pellora CONFIG)"),
    }
    failed = False
    if check(good, src, build):
        print("selftest: the page itself does not pass")
        failed = True
    for what, text in bad.items():
        if text == good or not check(text, src, build):
            print("selftest: %s went unnoticed" % what)
            failed = True
    return 1 if failed else 0


def main(argv):
    if len(argv) < 3:
        print(__doc__)
        return 2
    src, build = argv[1], argv[2]
    if "--selftest" in argv:
        return selftest(src, build)
    doc = argv[argv.index("--doc") + 1] if "--doc" in argv else os.path.join(src, "docs/getting-started.md")
    errors = check(open(doc).read(), src, build)
    for e in errors:
        print("%s: %s" % (os.path.relpath(doc, src), e))
    if not errors:
        print("getting-started: every block is run by a test or taken from an example")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
