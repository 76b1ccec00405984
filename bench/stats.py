"""Order statistics over timing samples."""


def percentile(sorted_values, percent):
    """Nearest rank: the smallest value with at least `percent` % of the values at or below it."""
    if not sorted_values:
        return float("nan")
    rank = max(1, -(-len(sorted_values) * percent // 100))  # ceil without floating point
    return sorted_values[rank - 1]


def median(values):
    ordered = sorted(values)
    if not ordered:
        return float("nan")
    middle = len(ordered) // 2
    return ordered[middle] if len(ordered) % 2 else (ordered[middle - 1] + ordered[middle]) / 2


class Samples:
    """Latency samples in ns with the timer's own cost taken off each."""

    def __init__(self, timer_cost_ns=0):
        self.timer_cost_ns = timer_cost_ns
        self.values = []
        self.cpu_ns = 0
        self.calls = 0

    def add(self, samples, cpu_ns, timer_cpu_ns_per_call):
        cost = self.timer_cost_ns
        self.values.extend(value - cost for value in samples)
        self.cpu_ns += cpu_ns - timer_cpu_ns_per_call * len(samples)
        self.calls += len(samples)

    def median_us(self):
        return median(self.values) / 1000

    def p99_us(self):
        return percentile(sorted(self.values), 99) / 1000

    def cpu_us_per_call(self):
        return self.cpu_ns / self.calls / 1000 if self.calls else float("nan")
