# Prints the size of the built stub against its goal, so that growth shows in
# every build's output:  cmake -DFILE=<exe> -DARCH=<name> -DGOAL_KIB=<n> -P stub-size.cmake
file(SIZE "${FILE}" size)
math(EXPR kib "(${size} + 1023) / 1024")
math(EXPR room "${GOAL_KIB} - ${kib}")
if(room LESS 0)
  message(WARNING "stub size (${ARCH}): ${size} bytes (${kib} KiB), over the goal of ${GOAL_KIB} KiB")
else()
  message("stub size (${ARCH}): ${size} bytes (${kib} KiB; goal <= ${GOAL_KIB} KiB, ${room} KiB left)")
endif()
