# Per-target compiler settings shared by every Velumar target.
#
# The model's numbers must be bit-reproducible, so floating-point contraction
# into fused multiply-adds is switched off explicitly (the compiler would
# otherwise be free to fuse whenever the target has FMA), and nothing here
# enables -ffast-math or its relatives: they change grades.
#
# -fno-math-errno changes no value: the model never reads errno, and without
# it every sqrt must stay a library call that can set errno, which keeps the
# loops around it from being vectorised.
function(velumar_target_flags target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANG_AND_ID:CXX,GNU,Clang>:-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion>
    $<$<COMPILE_LANG_AND_ID:C,GNU,Clang>:-Wall -Wextra -Wpedantic>)
endfunction()

function(velumar_numeric_flags target)
  target_compile_options(${target} PRIVATE -ffp-contract=off -fno-fast-math -fno-math-errno)
endfunction()
