#!/usr/bin/env python3
"""Fails unless the alert rules, their unit tests, the Grafana dashboard and any exposition
given use only the quotalume_* names and labels the engine exports, each label with a metric
that carries it.

Usage: check_names.py RULES RULES_TEST DASHBOARD [EXPOSITION...]
"""
import json
import re
import sys

import yaml  # Debian: python3-yaml

EXPORTED = {
    "quotalume_window_used_ratio": {"account", "bucket", "window"},
    "quotalume_window_resets_at_timestamp_seconds": {"account", "bucket", "window"},
    "quotalume_window_runs_out_at_timestamp_seconds": {"account", "bucket", "window"},
    "quotalume_blocked": {"account", "bucket", "reason"},
    "quotalume_last_reading_timestamp_seconds": {"account"},
    "quotalume_stale": {"account"},
    "quotalume_credits_balance": {"account"},
    "quotalume_readings_total": {"account", "outcome"},
    "quotalume_resets_total": {"account", "bucket", "window"},
    "quotalume_warnings_total": {"account", "reason"},
    "quotalume_deliveries_total": {"account", "channel", "outcome"},
}
# Prometheus adds these to every scraped series; the rules add the alert's own.
TARGET_LABELS = {"job", "instance"}
ALERT_LABELS = {"alertname", "severity"}
ANY_LABEL = set().union(*EXPORTED.values()) | TARGET_LABELS

KEYWORDS = {"and", "or", "unless", "by", "without", "on", "ignoring", "group_left",
            "group_right", "bool", "offset", "atan2", "inf", "nan"}
GROUPING = r"\b(by|without|on|ignoring|group_left|group_right)\s*\(([^()]*)\)"
IDENT = re.compile(r"[A-Za-z_:][A-Za-z0-9_:]*")
STRING = r'"(?:[^"\\]|\\.)*"|\'(?:[^\'\\]|\\.)*\'|`[^`]*`'


class Checker:
    def __init__(self):
        self.problems = []
        self.places = 0

    def fail(self, where, what):
        self.problems.append(f"{where}: {what}")

    def labels(self, where, names, allowed, metric=None):
        for label in names:
            if label not in allowed:
                owner = f" on {metric}" if metric else ""
                self.fail(where, f"label '{label}'{owner} is not exported")

    def metric(self, where, name, labels=()):
        if name not in EXPORTED:
            self.fail(where, f"'{name}' is not an exported name")
            return
        self.labels(where, labels, EXPORTED[name] | TARGET_LABELS, name)

    def promql(self, where, expr):
        """Every selector's name and matchers, and every grouping label, of one expression."""
        self.places += 1
        m = re.fullmatch(r"\s*label_values\(\s*([^,()]+?)\s*(?:,\s*(\w+)\s*)?\)\s*", expr)
        if m:
            self.metric(where, m.group(1).strip(), [m.group(2)] if m.group(2) else [])
            return
        if "__name__" in expr:
            self.fail(where, "selects by __name__, which this check cannot follow")
        text = re.sub(r"\$\{?\w+(?::\w+)?\}?", "x", re.sub(STRING, '""', expr))
        for group in re.finditer(GROUPING, text):
            self.labels(where, IDENT.findall(group.group(2)), ANY_LABEL)
        text = re.sub(GROUPING, r"\1 ", text)
        text = re.sub(r"\[[^\[\]]*\]", " ", text)
        found = 0
        for selector in re.finditer(r"([A-Za-z_:][\w:]*)?\s*\{([^{}]*)\}", text):
            if not selector.group(1):
                self.fail(where, "a selector without a metric name")
                continue
            labels = re.findall(r"(\w+)\s*(?:=~|!~|!=|=)", selector.group(2))
            self.metric(where, selector.group(1), labels)
            found += 1
        text = re.sub(r"([A-Za-z_:][\w:]*)?\s*\{[^{}]*\}", " ", text)
        for tok in IDENT.finditer(text):
            name, rest = tok.group(0), text[tok.end():].lstrip()
            if name.lower() in KEYWORDS or re.search(r"[0-9.]$", text[:tok.start()]):
                continue  # a keyword, or the unit of a duration or number such as 5m or 1e3
            if rest.startswith("(") or re.match(r"(by|without)\b", rest):
                continue  # a function, or an aggregation with its grouping first
            self.metric(where, name)
            found += 1
        if not found:
            self.fail(where, "no metric found")

    def templates(self, where, text, allowed):
        self.labels(where, re.findall(r"\$labels\.(\w+)", text), allowed)
        for legend in re.findall(r"\{\{\s*(\w+)\s*\}\}", text):
            self.labels(where, [legend], allowed)

    def series(self, where, text):
        m = re.fullmatch(r"\s*([A-Za-z_:][\w:]*)\s*(?:\{(.*)\})?\s*(\S+)?\s*", text)
        if not m:
            self.fail(where, f"not a series: {text}")
            return
        labels = re.findall(r'(\w+)\s*=\s*"(?:[^"\\]|\\.)*"', m.group(2) or "")
        self.metric(where, m.group(1), labels)


def check_rules(checker, path):
    rules = yaml.safe_load(open(path, encoding="utf-8"))
    for group in rules["groups"]:
        for rule in group["rules"]:
            where = f"{path}: rule {rule.get('alert') or rule.get('record')}"
            checker.promql(where, rule["expr"])
            for text in rule.get("annotations", {}).values():
                checker.templates(where, text, ANY_LABEL | ALERT_LABELS)


def check_rule_tests(checker, path):
    tests = yaml.safe_load(open(path, encoding="utf-8"))
    for test in tests["tests"]:
        for series in test.get("input_series", []):
            checker.series(f"{path}: test '{test['name']}'", series["series"])
        for case in test.get("alert_rule_test", []):
            for alert in case.get("exp_alerts", []):
                checker.labels(f"{path}: test '{test['name']}'", alert.get("exp_labels", {}),
                               ANY_LABEL | ALERT_LABELS)


def check_dashboard(checker, path):
    exprs = 0

    # A query variable's query is PromQL; a data source variable's names a plugin.
    def walk(node, where, variable=False):
        nonlocal exprs
        if isinstance(node, list):
            for item in node:
                walk(item, where, variable)
            return
        if not isinstance(node, dict):
            return
        if node.get("type") == "query" and "name" in node:
            where, variable = f"{path}: variable ${node['name']}", True
        elif "title" in node:
            where = f"{path}: panel '{node['title']}'"
        for key, value in node.items():
            query = variable and key in ("definition", "query") and isinstance(value, str)
            if key == "expr" or query:
                checker.promql(where, value)
                exprs += 1
            elif key == "legendFormat":
                checker.templates(where, value, ANY_LABEL)
            else:
                walk(value, where, variable)

    walk(json.load(open(path, encoding="utf-8")), path)
    if not exprs:
        checker.fail(path, "no expression")


def check_exposition(checker, path):
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        where = f"{path}:{number}"
        m = re.match(r"# (?:HELP|TYPE) (\S+)", line)
        if m:
            checker.metric(where, m.group(1))
        elif line.strip() and not line.startswith("#"):
            checker.series(where, line)


def main(argv):
    if len(argv) < 4:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    checker = Checker()
    check_rules(checker, argv[1])
    check_rule_tests(checker, argv[2])
    check_dashboard(checker, argv[3])
    for path in argv[4:]:
        check_exposition(checker, path)
    for problem in checker.problems:
        print(problem)
    print(f"{checker.places} expressions checked, {len(checker.problems)} problems")
    return 1 if checker.problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
