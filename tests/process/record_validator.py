"""Validates records against docs/record.schema.json with Debian's python3-jsonschema.

Run by the harness with /usr/bin/python3, whichever Python runs the tests, and
kept for the life of the test process. It reads batches from standard input:
records, one a line, then an empty line. For each batch it answers one line:
"ok", or a JSON object naming the first record that fails and why. It parses each
line itself, so the check does not lean on the harness's own parsing.
"""

import json
import os
import sys

import jsonschema

SCHEMA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "record.schema.json")


def load_validators(path=SCHEMA):
    """The validator of the whole schema, and one per kind of record for the messages."""
    with open(path, encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    kinds = {name: jsonschema.Draft202012Validator({"$ref": "#/$defs/" + name, "$defs": schema["$defs"]})
             for name in ("unavailable", "noPlayer", "state")}
    return jsonschema.Draft202012Validator(schema), kinds


def problem(validators, line):
    """None for a valid record, otherwise what is wrong with it."""
    whole, kinds = validators
    try:
        record = json.loads(line)
    except ValueError as error:
        return "not JSON: %s" % error
    if whole.is_valid(record):
        return None
    # "not valid under any of the given schemas" says little: say why the record
    # fails as the kind it tries to be, told apart as the README tells hosts to.
    kind = "state"
    if isinstance(record, dict) and "error" in record:
        kind = "unavailable"
    elif isinstance(record, dict) and record.get("bundle", "") is None:
        kind = "noPlayer"
    error = jsonschema.exceptions.best_match(kinds[kind].iter_errors(record))
    if error is None:
        return "not valid under the schema"
    where = "/".join(str(p) for p in error.absolute_path) or "(the record)"
    names = {"unavailable": "an unavailable record", "noPlayer": "a no-player record", "state": "a state record"}
    return "as %s, %s: %s" % (names[kind], where, error.message[:300])


def main():
    validators = load_validators()
    first = None
    index = 0
    for raw in sys.stdin.buffer:
        line = raw.rstrip(b"\n")
        if not line:
            sys.stdout.write("ok\n" if first is None else json.dumps(first) + "\n")
            sys.stdout.flush()
            first, index = None, 0
            continue
        if first is None:
            why = problem(validators, line)
            if why is not None:
                first = {"index": index, "error": why}
        index += 1


if __name__ == "__main__":
    main()
