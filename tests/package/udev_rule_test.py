#!/usr/bin/env python3
"""The tester's udev rule, evaluated against the attribute sets of a few devices.

    python3 tests/package/udev_rule_test.py dist/linux/60-zentrika-quarn.rules

There is no USB device here, so a small evaluator applies the rule file as udev would to a tty
event: a rule applies when all its match keys hold; ATTRS{...} keys must all hold on one device
of the chain from the tty up through its parents; patterns are shell globs with '|' between
alternatives. The evaluator knows only the keys it can evaluate and fails on any other, so a key
added to the rule is never silently taken as matching.
"""
import fnmatch
import re
import sys

KEY = re.compile(r'\s*([A-Z_]+)(?:\{([^}]*)\})?\s*(==|!=|\+=|-=|:=|=)\s*"((?:[^"\\]|\\.)*)"\s*(,|$)')
MATCH_KEYS = {"SUBSYSTEM", "KERNEL", "ATTRS"}
ASSIGN_KEYS = {"MODE", "GROUP", "OWNER", "TAG", "ENV"}


class RuleError(Exception):
    pass


def parse_rules(text):
    """Each rule as a list of (key, attribute, operator, value)."""
    rules = []
    for number, line in enumerate(text.replace("\\\n", "").splitlines(), 1):
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        keys, pos = [], 0
        while pos < len(line):
            found = KEY.match(line, pos)
            if not found:
                raise RuleError(f"line {number}: cannot read the keys from column {pos + 1}")
            key, attribute, operator, value, _ = found.groups()
            if key not in MATCH_KEYS | ASSIGN_KEYS:
                raise RuleError(f"line {number}: the evaluator does not know the key {key}")
            if (key in MATCH_KEYS) != (operator in ("==", "!=")):
                raise RuleError(f"line {number}: {key} with the operator {operator}")
            keys.append((key, attribute, operator, value))
            pos = found.end()
        rules.append(keys)
    return rules


def glob_holds(pattern, value):
    return value is not None and any(fnmatch.fnmatchcase(value, alternative)
                                     for alternative in pattern.split("|"))


def key_holds(operator, pattern, value):
    return glob_holds(pattern, value) == (operator == "==")


def rule_matches(rule, device):
    for key, _, operator, pattern in rule:
        if key in ("SUBSYSTEM", "KERNEL") and not key_holds(operator, pattern,
                                                            device[key.lower()]):
            return False
    attrs = [(attribute, operator, pattern) for key, attribute, operator, pattern in rule
             if key == "ATTRS"]
    if not attrs:
        return True
    # sysfs values lose their trailing white space before they are compared.
    return any(all(key_holds(operator, pattern, (level.get(attribute) or "").rstrip() or None)
                   for attribute, operator, pattern in attrs)
               for level in device["chain"])


def evaluate(rules, device):
    """The properties the rules give the device: MODE, GROUP, OWNER, TAGS and ENV{...}."""
    result = {}
    for rule in rules:
        if not rule_matches(rule, device):
            continue
        for key, attribute, operator, value in rule:
            if key == "TAG":
                tags = result.setdefault("TAGS", set())
                tags.discard(value) if operator == "-=" else tags.add(value)
            elif key == "ENV":
                result[f"ENV{{{attribute}}}"] = value
            elif key in ASSIGN_KEYS:
                result[key] = value
    return result


def usb_tty(kernel, product, vendor, product_id):
    """A USB serial tty: the tty, its USB interface, the USB device that carries the strings."""
    return {"subsystem": "tty", "kernel": kernel, "chain": [
        {"dev": f"/dev/{kernel}"},
        {"bInterfaceClass": "02", "bInterfaceNumber": "00"},
        {"idVendor": vendor, "idProduct": product_id, "manufacturer": "Zentrika ",
         "product": product},
    ]}


TESTER_PROPERTIES = {"MODE": "0660", "GROUP": "dialout", "TAGS": {"uaccess"},
                     "ENV{ID_MM_DEVICE_IGNORE}": "1"}

# (name, device, the properties it must get)
CASES = [
    ("tester application firmware", usb_tty("ttyACM0", "Zentrika QUARN Tester\n", "1209", "0001"),
     TESTER_PROPERTIES),
    ("tester bootloader after the restart", usb_tty("ttyACM1", "Zentrika QUARN", "1209", "0002"),
     TESTER_PROPERTIES),
    ("unrelated USB serial adapter", usb_tty("ttyUSB0", "FT232R USB UART", "0403", "6001"), {}),
    ("the tester's USB device node, not its tty",
     {"subsystem": "usb", "kernel": "1-1", "chain": [{"product": "Zentrika QUARN Tester"}]}, {}),
]


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[2].strip())
        return 2
    with open(sys.argv[1], encoding="utf-8") as rule_file:
        try:
            rules = parse_rules(rule_file.read())
        except RuleError as problem:
            print(f"FAIL  {sys.argv[1]}: {problem}")
            return 1
    passed = failed = 0
    for name, device, wanted in CASES:
        got = evaluate(rules, device)
        if got == wanted:
            passed += 1
            print(f"ok    {name}")
        else:
            failed += 1
            print(f"FAIL  {name}: got {got}, wanted {wanted}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
