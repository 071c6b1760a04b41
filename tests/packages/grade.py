"""Grades a pair with the installed module and prints nothing but the grade."""
import sys

import velumar

result = velumar.grade_files(sys.argv[1], sys.argv[2])
print(repr(result.odg))
