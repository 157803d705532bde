# Sourced by the build scripts: sets jobs, the number of parallel build
# (and test) jobs, from QOR_JOBS, else the number of processors.
jobs=${QOR_JOBS:-$(nproc)}
if ! [[ "$jobs" =~ ^[1-9][0-9]*$ ]]; then
  echo "QOR_JOBS must be a number of jobs (1 or more), not '$jobs'" >&2
  exit 2
fi
