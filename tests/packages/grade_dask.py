"""Grades a list of pairs on a local Dask cluster with the installed module
and prints one JSON line per pair, as velumar-cli --batch does."""
import csv
import json
import sys

import velumar.dask

if __name__ == "__main__":  # the local cluster's workers import this file again
    with open(sys.argv[1], newline="") as list_file:
        pairs = [tuple(row) for row in csv.reader(list_file) if row]
    for result in velumar.dask.grade_pairs(pairs):
        print(json.dumps(result.record, ensure_ascii=False))
