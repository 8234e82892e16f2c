# Mount points for a private mount namespace, shared by the demo and the end-to-end tests.
# A bind mount needs its target to exist: make_mount_point creates only the missing parts of a
# path and remembers them in created_mount_points (outermost first); remove_mount_points
# removes exactly those again, innermost first. Source this file.
created_mount_points=()

make_mount_point() {
  local path="$1" part="" piece pieces
  IFS='/' read -r -a pieces <<<"${path#/}"
  for piece in "${pieces[@]}"; do
    part="$part/$piece"
    if [ ! -e "$part" ]; then
      mkdir "$part"
      created_mount_points+=("$part")
    fi
  done
}

remove_mount_points() {
  local i
  for ((i = ${#created_mount_points[@]} - 1; i >= 0; i--)); do
    rmdir "${created_mount_points[$i]}" 2>/dev/null || echo "could not remove ${created_mount_points[$i]} (not empty?)" >&2
  done
  created_mount_points=()
}
