"""The example scripts run and print their results (they are the README's first command)."""
import pathlib
import subprocess
import sys

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"


def test_tour_runs():
    out = subprocess.run([sys.executable, str(EXAMPLES / "tour.py")], capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    assert "Rolling windows" in out.stdout and "nan" not in out.stdout.split("Robust estimators")[1].split("Rolling")[0]
