"""Resident memory of this process, for benchmarks that measure the peak of one step."""


def status_bytes(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise RuntimeError(f"{field} not in /proc/self/status")


def reset_peak_rss():
    """Lets the high-water mark start again from the current resident size."""
    with open("/proc/self/clear_refs", "w") as clear_refs:
        clear_refs.write("5")
