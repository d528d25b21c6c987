#!/usr/bin/env python3
"""Checks the Group Policy templates in policy/ against the program: the three
files are UTF-8 XML, both languages hold every text and presentation the ADMX
uses, every registry value the templates write is one the program reads
(src/settings/policy.h) and every value the program reads has a policy, each
value is written with the type and range the program accepts, and every policy
hangs under a category and a supportedOn that exist."""
import os
import re
import sys
import xml.etree.ElementTree as ET

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
ADMX = os.path.join(ROOT, "policy", "dadado.admx")
ADMLS = {lang: os.path.join(ROOT, "policy", lang, "dadado.adml") for lang in ("zh-CN", "en-US")}
POLICY_H = os.path.join(ROOT, "src", "settings", "policy.h")
NS = "{http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions}"

# What the program accepts for each value. ("dword", low, high) is a REG_DWORD
# range; ("text", n) a REG_SZ that must hold at least n characters (a whole
# time, a whole date, all 24 hours of a day, the 25-character stored password);
# ("dates", n) a REG_SZ list of dates that may be empty and must hold at least
# n characters; ("list",) the numbered values 1, 2, 3 ... of a key of that
# name under the policy key, each REG_SZ.
WEEKDAYS = ["星期日", "星期一", "星期二", "星期三", "星期四", "星期五", "星期六"]
VALUES = {
    "ScheduleFrequency": ("dword", 0, 3),
    "ScheduleTime": ("text", len("23:59:59")),
    "ScheduleWeekday": ("dword", 0, 6),
    "ScheduleIntervalDays": ("dword", 2, 16),
    "IntervalStart": ("text", len("2025-12-31")),
    "Action": ("dword", 0, 3),
    "ShowWarning": ("dword", 0, 1),
    "ForceImmediate": ("dword", 0, 1),
    "HideWindowAtStart": ("dword", 0, 1),
    "HideTrayIcon": ("dword", 0, 1),
    "LockAtStart": ("dword", 0, 1),
    "PasswordProtection": ("dword", 0, 1),
    "TimeControl": ("dword", 0, 1),
    "AdministratorsExempt": ("dword", 0, 1),
    "Password": ("text", 25),
    "StartWithWindows": ("dword", 0, 1),
    "SettingsReadOnly": ("dword", 0, 1),
    "CatchUpMissed": ("dword", 0, 1),
    "PostponeMinutes": ("dword", 5, 120),
    "GuardService": ("dword", 0, 1),
    "Plans": ("list",),
    # A year of holidays and extra working days as ranges, many times over.
    "HolidayDates": ("dates", 1000),
    "ExtraWorkdays": ("dates", 1000),
}
for day in ("Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"):
    VALUES["AllowedHours" + day] = ("text", len("+".join("%02d:00" % h for h in range(24))))
    VALUES["DailyLimit" + day] = ("dword", 0, 1440)

# The window's own captions, by the number the program stores: a list in the
# wrong order would make the administrator pick one thing and get another.
CAPTIONS = {
    "ScheduleFrequency": ["每天定时", "每周定时", "每隔＆天", "取消定时"],
    "ScheduleWeekday": WEEKDAYS,
    "Action": ["重新启动计算机", "关闭计算机", "注销用户", "不进行任何操作"],
}

# Which presentation control shows which kind of element.
CONTROLS = {"decimal": {"decimalTextBox"}, "enum": {"dropdownList"}, "text": {"textBox", "comboBox"},
            "boolean": {"checkBox"}, "longDecimal": {"longDecimalTextBox"}, "multiText": {"multiTextBox"},
            "list": {"listBox"}}

failures = []


def check(ok, what):
    print(("PASS " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def local(tag):
    return tag[len(NS):] if tag.startswith(NS) else tag


# ---- the files themselves -------------------------------------------------------------

def load(path):
    name = os.path.relpath(path, ROOT)
    try:
        raw = open(path, "rb").read()
    except OSError as e:
        check(False, "%s exists (%s)" % (name, e))
        return None
    try:
        raw.decode("utf-8")
        utf8 = True
    except UnicodeDecodeError:
        utf8 = False
    declared = re.match(rb'<\?xml version="1\.0" encoding="utf-8"\?>', raw, re.I) is not None
    check(utf8 and declared, "%s is UTF-8 and says so in its XML declaration" % name)
    try:
        root = ET.fromstring(raw)
    except ET.ParseError as e:
        check(False, "%s is well-formed XML (%s)" % (name, e))
        return None
    check(True, "%s is well-formed XML" % name)
    return root


admx = load(ADMX)
admls = {lang: load(path) for lang, path in ADMLS.items()}
if admx is None or any(a is None for a in admls.values()):
    sys.exit(1)

for name, root, want in [("dadado.admx", admx, "policyDefinitions")] + \
        [("%s/dadado.adml" % lang, a, "policyDefinitionResources") for lang, a in admls.items()]:
    check(root.tag == NS + want and root.get("revision") == "1.0" and root.get("schemaVersion") == "1.0",
          "%s: %s of the Group Policy namespace, revision 1.0, schemaVersion 1.0" % (name, want))

# ---- what the program reads -----------------------------------------------------------

header = open(POLICY_H, encoding="utf-8").read()
code = re.sub(r"//[^\n]*|/\*.*?\*/", "", header, flags=re.S)  # a quoted word in a comment is no value
literals = [bytes(s, "utf-8").decode("unicode_escape") for s in re.findall(r'"((?:[^"\\\n]|\\.)*)"', code)]
key_match = re.search(r'\bkKey\[\]\s*=\s*"((?:[^"\\]|\\.)*)"', header)
check(key_match is not None, "policy.h names the policy key")
policy_key = bytes(key_match.group(1), "utf-8").decode("unicode_escape") if key_match else None
read_names = [s for s in literals if s != policy_key]
check(sorted(read_names) == sorted(VALUES),
      "the table of ranges in this test covers exactly the values policy.h names: %s"
      % sorted(set(read_names) ^ set(VALUES)))

# ---- the ADMX: namespaces, categories, supportedOn -------------------------------------

namespaces = admx.find(NS + "policyNamespaces")
target = namespaces.find(NS + "target") if namespaces is not None else None
prefixes = {u.get("prefix"): u.get("namespace") for u in namespaces.findall(NS + "using")} if namespaces is not None else {}
own_prefix = target.get("prefix") if target is not None else None
check(target is not None and own_prefix and target.get("namespace") not in prefixes.values()
      and not target.get("namespace", "").startswith("Microsoft."),
      "the ADMX has a target namespace of its own: %s" % (target.attrib if target is not None else None))
check(admx.find(NS + "resources") is not None and admx.find(NS + "resources").get("minRequiredRevision") == "1.0",
      "the ADMX asks for ADML revision 1.0")

categories = {c.get("name"): c for c in admx.iter(NS + "category")}
own_supported = {d.get("name") for d in admx.iter(NS + "definition")}


def resolves(ref, own):
    """A reference without a prefix, or with our own, names something defined
    here; one with another prefix needs that namespace declared."""
    if ref is None:
        return False
    prefix, _, name = ref.rpartition(":")
    if prefix in ("", own_prefix):
        return name in own
    return prefix in prefixes and re.fullmatch(r"\w+", name) is not None


category_faults = [n for n, c in categories.items()
                   if c.find(NS + "parentCategory") is not None
                   and not resolves(c.find(NS + "parentCategory").get("ref"), categories)]
check(not category_faults, "every subcategory's parent exists: %s" % category_faults)
check(prefixes.get("windows") == "Microsoft.Policies.Windows", "the Windows base namespace is declared as windows:")

policies = list(admx.iter(NS + "policy"))
check(len({p.get("name") for p in policies}) == len(policies), "policy names are unique")
outside, uncategorised, unsupported = [], [], []
for p in policies:
    name = p.get("name")
    parent = p.find(NS + "parentCategory")
    supported = p.find(NS + "supportedOn")
    if p.get("class") != "Machine" or p.get("key") != policy_key:
        outside.append("%s (class %s, key %s)" % (name, p.get("class"), p.get("key")))
    # Policies sit in the subcategories, never loose in the top category.
    ref = parent.get("ref") if parent is not None else None
    home = categories.get(ref.rpartition(":")[2]) if ref and resolves(ref, categories) else None
    if home is None or home.find(NS + "parentCategory") is None:
        uncategorised.append("%s (%s)" % (name, ref))
    if supported is None or not resolves(supported.get("ref"), own_supported):
        unsupported.append("%s (%s)" % (name, supported.get("ref") if supported is not None else None))
check(not outside, "every policy is a computer policy under %s: %s" % (policy_key, outside))
check(not uncategorised, "every policy is in a subcategory that exists: %s" % uncategorised)
check(not unsupported, "every policy's supportedOn names a declared definition: %s" % unsupported)

# ---- the ADMX: what each policy writes -------------------------------------------------

writers = {}  # value name -> list of (policy name, kind, node)
for p in policies:
    if p.get("valueName"):
        writers.setdefault(p.get("valueName"), []).append((p.get("name"), "enabledValue", p))
    elements = p.find(NS + "elements")
    for e in (elements if elements is not None else []):
        if e.get("valueName"):
            writers.setdefault(e.get("valueName"), []).append((p.get("name"), local(e.tag), e))
        # A list element writes the values of a key of its own.
        if local(e.tag) == "list" and (e.get("key") or "").startswith(policy_key + "\\"):
            writers.setdefault(e.get("key")[len(policy_key) + 1:], []).append((p.get("name"), "list", e))
    for node in p.iter():  # lists that write further values (enabledList, valueList)
        if local(node.tag) == "item" and node.get("valueName"):
            writers.setdefault(node.get("valueName"), []).append((p.get("name"), "list", node))
            check(node.get("key") in (None, policy_key), "%s: list item under %s" % (p.get("name"), node.get("key")))

strays = sorted(set(writers) - set(read_names))
check(not strays, "every value the templates write is one the program reads: %s" % strays)
missing = sorted(set(read_names) - set(writers))
check(not missing, "every value the program reads has a policy: %s" % missing)
doubles = sorted(v for v, w in writers.items() if len(w) > 1)
check(not doubles, "no value is written by two policies or elements: %s" % doubles)


def decimal_of(parent):
    """The number a <enabledValue>, <value> or the like writes, or None when it
    writes a text or deletes."""
    if parent is None:
        return None
    d = parent.find(NS + "decimal")
    return int(d.get("value")) if d is not None else None


zh_table = admls["zh-CN"].find(NS + "resources/" + NS + "stringTable")
zh_texts = {t.get("id"): (t.text or "") for t in zh_table.iter(NS + "string")} if zh_table is not None else {}


def range_faults(value, accepts, kind, node):
    """What is wrong with the way one policy or element writes `value`."""
    faults = []
    if accepts[0] == "list":
        # Numbered values 1, 2, 3 ... (an empty prefix), the line as their data,
        # and the administrator's list in place of whatever was there.
        if kind != "list":
            faults.append("written as %s, not as a list" % kind)
            return faults
        if node.get("valuePrefix") != "":
            faults.append("valuePrefix %r does not number the values 1, 2, 3" % node.get("valuePrefix"))
        for attribute in ("explicitValue", "expandable", "additive"):
            if node.get(attribute) == "true":
                faults.append("%s is true" % attribute)
        return faults
    if accepts[0] == "dates":
        limit = int(node.get("maxLength", "1023"))
        if kind != "text" or node.get("expandable") == "true":
            faults.append("written as %s, not as REG_SZ text" % kind)
        if limit < accepts[1]:
            faults.append("maxLength %d leaves no room for %d characters" % (limit, accepts[1]))
        # The program reads texts of up to 2047 characters.
        if limit > 2047:
            faults.append("maxLength %d is more than the program reads" % limit)
        return faults
    if accepts[0] == "text":
        limit = int(node.get("maxLength", "1023"))
        if kind != "text" or node.get("expandable") == "true":
            faults.append("written as %s, not as REG_SZ text" % kind)
        if limit < accepts[1]:
            faults.append("maxLength %d leaves no room for %d characters" % (limit, accepts[1]))
        # An empty allowed-hours text forbids the day, an empty time or date never
        # matches: the editor must not let a box be left empty.
        if node.get("required") != "true":
            faults.append("may be left empty")
        return faults
    low, high = accepts[1], accepts[2]
    if kind == "enabledValue":
        on, off = decimal_of(node.find(NS + "enabledValue")), decimal_of(node.find(NS + "disabledValue"))
        if (low, high) != (0, 1) or (on, off) != (1, 0):
            faults.append("enabled/disabled write %s/%s for a range %d to %d" % (on, off, low, high))
    elif kind == "boolean":
        on, off = decimal_of(node.find(NS + "trueValue")), decimal_of(node.find(NS + "falseValue"))
        if (low, high) != (0, 1) or (on, off) != (1, 0):
            faults.append("checked/cleared write %s/%s for a range %d to %d" % (on, off, low, high))
    elif kind == "decimal":
        got = (int(node.get("minValue", "0")), int(node.get("maxValue", "9999")))
        if got != (low, high):
            faults.append("minValue/maxValue %d/%d" % got)
        if node.get("storeAsText") == "true":
            faults.append("stored as text")
        if node.get("required") != "true":
            faults.append("may be left empty")
    elif kind == "enum":
        items = node.findall(NS + "item")
        numbers = [decimal_of(i.find(NS + "value")) for i in items]
        if sorted(n for n in numbers if n is not None) != list(range(low, high + 1)) or None in numbers:
            faults.append("items write %s" % numbers)
        if node.get("required") != "true":
            faults.append("no choice required")
        for i, n in zip(items, numbers):
            if value not in CAPTIONS or n is None or not low <= n <= high:
                continue
            ref = re.fullmatch(r"\$\(string\.(\w+)\)", i.get("displayName", ""))
            text = zh_texts.get(ref.group(1)) if ref else None
            if text != CAPTIONS[value][n - low]:
                faults.append("item %d reads %s in Chinese, the window says %s" % (n, text, CAPTIONS[value][n - low]))
    else:
        faults.append("a REG_DWORD written as %s" % kind)
    return faults


for value, accepts in VALUES.items():
    for policy_name, kind, node in writers.get(value, []):
        faults = range_faults(value, accepts, kind, node)
        shape = {"text": lambda: "REG_SZ of at least %d characters" % accepts[1],
                 "dates": lambda: "REG_SZ list of dates, up to at least %d characters, maybe empty" % accepts[1],
                 "list": lambda: "numbered REG_SZ values under %s\\%s" % (policy_key, value),
                 "dword": lambda: "REG_DWORD %d to %d" % (accepts[1], accepts[2])}[accepts[0]]()
        check(not faults, "%s (%s of policy %s): %s%s" % (value, kind, policy_name, shape,
                                                          ": " + "; ".join(faults) if faults else ""))

# ---- the ADML files: texts and presentations --------------------------------------------

admx_text = open(ADMX, encoding="utf-8").read()
used_strings = set(re.findall(r"\$\(string\.(\w+)\)", admx_text))
used_presentations = set(re.findall(r"\$\(presentation\.(\w+)\)", admx_text))
defined = {}
for lang, adml in admls.items():
    strings = [s.get("id") for s in adml.iter(NS + "string")]
    presentations = {p.get("id"): p for p in adml.iter(NS + "presentation")}
    defined[lang] = (set(strings), set(presentations))
    check(len(strings) == len(set(strings)), "%s: no string is defined twice" % lang)
    check(not used_strings - set(strings),
          "%s: every string the ADMX uses is defined: %s" % (lang, sorted(used_strings - set(strings))))
    check(not used_presentations - set(presentations),
          "%s: every presentation the ADMX uses is defined: %s"
          % (lang, sorted(used_presentations - set(presentations))))
    empty = sorted(s.get("id") for s in adml.iter(NS + "string") if not (s.text or "").strip())
    check(not empty, "%s: no string is empty: %s" % (lang, empty))
    # Each policy's elements are shown by exactly one control of the matching kind.
    faults = []
    for p in policies:
        elements = p.find(NS + "elements")
        kinds = {e.get("id"): local(e.tag) for e in (elements if elements is not None else [])}
        ref = re.fullmatch(r"\$\(presentation\.(\w+)\)", p.get("presentation", ""))
        if not kinds:
            if ref:
                faults.append("%s has a presentation but no elements" % p.get("name"))
            continue
        shown = presentations.get(ref.group(1)) if ref else None
        if shown is None:
            faults.append("%s: no presentation" % p.get("name"))
            continue
        controls = [(c.get("refId"), local(c.tag)) for c in shown if c.get("refId") is not None]
        if sorted(r for r, _ in controls) != sorted(kinds):
            faults.append("%s: controls %s for elements %s" % (p.get("name"), sorted(r for r, _ in controls),
                                                               sorted(kinds)))
        faults += ["%s: %s shown by %s" % (p.get("name"), r, c) for r, c in controls
                   if r in kinds and c not in CONTROLS.get(kinds[r], set())]
        for c in shown:
            if local(c.tag) in ("textBox", "comboBox") and (c.find(NS + "label") is None or
                                                           list(c)[0].tag != NS + "label"):
                faults.append("%s: %s has no label first" % (p.get("name"), c.get("refId")))
    check(not faults, "%s: every policy's elements have one control of their kind each: %s" % (lang, faults))
zh, en = defined["zh-CN"], defined["en-US"]
check(zh[0] == en[0], "both languages define the same strings: %s" % sorted(zh[0] ^ en[0]))
check(zh[1] == en[1], "both languages define the same presentations: %s" % sorted(zh[1] ^ en[1]))

sys.exit(1 if failures else 0)
