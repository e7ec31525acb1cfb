#!/usr/bin/python3
"""Validates tav's files against the JSON Schemas in schemas/ (draft 2020-12).

  validate.py SCHEMA_DIR KIND FILE...   KIND is a schema's name: tasks, metadata, config, suite,
                                        responses, task-responses, report or view

Prints one line per problem ("FILE: PATH: message") and exits 1 when a file is invalid, 0 when
every file is valid. Each schema is itself checked against the draft's metaschema first.
"""

import json
import sys
from pathlib import Path

import jsonschema

KINDS = ("tasks", "metadata", "config", "suite", "responses", "task-responses", "report", "view")


def load_validator(schema_dir, kind):
    schema = json.loads((Path(schema_dir) / f"{kind}.schema.json").read_text())
    jsonschema.Draft202012Validator.check_schema(schema)
    return jsonschema.Draft202012Validator(schema)


def problems(validator, document):
    """Every place the document breaks the schema, as "PATH: message" texts."""
    found = []
    for error in sorted(validator.iter_errors(document), key=lambda e: list(map(str, e.path))):
        path = "".join(f"[{p}]" if isinstance(p, int) else f".{p}" for p in error.path)
        found.append(f"{path or '(top)'}: {error.message}")
    return found


def main(argv):
    if len(argv) < 4 or argv[2] not in KINDS:
        print(__doc__, file=sys.stderr)
        return 2
    validator = load_validator(argv[1], argv[2])
    bad = False
    for name in argv[3:]:
        # The programs read JSON without comments; the same strict parse here.
        try:
            document = json.loads(Path(name).read_bytes())
        except (OSError, ValueError) as error:
            print(f"{name}: {error}")
            bad = True
            continue
        for problem in problems(validator, document):
            print(f"{name}: {problem}")
            bad = True
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
