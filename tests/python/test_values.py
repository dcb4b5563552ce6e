"""Values of every type: set from Python, written, read back as Python
objects evaluated at the file's time, with their expression texts."""
import numpy as np
import pytest

import ztp


def test_values_of_each_type_round_trip_and_evaluate_at_the_file_time(tmp_path):
    body = ztp.Body("pool", "Particle-Liquid")
    settings = [
        ("Extra", "count", 7, None, "value1i", 7, "7"),
        ("Extra", "numpy count", np.int16(-3), None, "value1i", -3, "-3"),
        ("Extra", "serial", 100000000, "int64", "value1i64", 100000000, "100000000"),
        ("Extra", "ratio", 0.1, None, "value1f", np.float32(0.1), "0.1"),
        ("Extra", "third", 1 / 3, None, "value1f", np.float32(1 / 3), "0.333333333"),
        ("Extra", "rising", "time * 4", "float", "value1f", 10.0, "time * 4"),
        ("Extra", "steps", "frame + 3", "int", "value1i", 3, "frame + 3"),
        ("Extra", "offset", (1, 2.5, -3), None, "value3f", (1.0, 2.5, -3.0), ("1", "2.5", "-3")),
        ("Extra", "cell", (1, -2, 3), None, "value3i", (1, -2, 3), ("1", "-2", "3")),
        ("Extra", "drift", ("time", "0", "-time"), "vec3f", "value3f", (2.5, 0.0, -2.5), ("time", "0", "-time")),
        ("Extra", "label", "splash `time * 2`", None, "value1s", "splash 5", "splash `time * 2`"),
        ("Extra", "cached", True, None, "toggle", "On", "On"),
        ("Extra", "hidden", "Off", "toggle", "toggle", "Off", "Off"),
        ("Fluid", "Surface", "Sharp", None, "enum", "Sharp", "Sharp"),
        ("Fluid", "Particle Regulation", False, None, "toggle", "Off", "Off"),
        ("Fluid", "Viscosity", "0.25", None, "value1f", 0.25, "0.25"),
        ("Fluid", "Initial Velocity", (0, "time", 1), None, "value3f", (0.0, 2.5, 1.0), ("0", "time", "1")),
        ("Stepping", "Substeps", 4.0, None, "value1i", 4, "4.0"),
    ]
    for section, name, value, kind, *_ in settings:
        body.set_value(section, name, value, type=kind)
    before = body.values
    assert before["Extra"]["rising"] == 0.0 and before["Extra"]["label"] == "splash 0"
    path = tmp_path / "values.ztp"
    ztp.write(path, [body], time=2.5)
    with ztp.open(path) as cache:
        read = cache.bodies[0]
        values = read.values
        assert list(values) == ["Stepping", "Fluid", "Output", "Extra"]
        for section, name, _, _, type_name, expected, expression in settings:
            assert read.value_type(section, name) == type_name, name
            assert values[section][name] == expected, name
            assert type(values[section][name]) is type(expected) or isinstance(expected, np.floating), name
            assert read.expression(section, name) == expression, name
        assert values["Stepping"]["Motion Type"] == "Dynamic"
        assert values["Output"]["Cache File"] == "liquid.ztp"
        with pytest.raises(KeyError, match="has no value 'Nothing' in section 'Fluid'"):
            read.expression("Fluid", "Nothing")
        with pytest.raises(KeyError, match="in section 'Nowhere'"):
            read.value_type("Nowhere", "Density")


def test_values_that_cannot_be_set_are_refused_and_change_nothing():
    body = ztp.Body("pool", "Particle-Liquid")
    refusals = [
        (ztp.Error, "Error setting value on pool.Density:", ("Fluid", "Density", "1 +", None)),
        (ztp.Error, "out-of-bounds value", ("Fluid", "Density", 1e12, None)),
        (ztp.Error, "Enumerated name 'Wavy' does not exist in group 'SurfaceTypeEnum'", ("Fluid", "Surface", "Wavy", None)),
        (TypeError, "enumeration: give the name to select", ("Fluid", "Surface", 1, None)),
        (TypeError, "a vector value takes a sequence of 3", ("Fluid", "Initial Velocity", (1, 2), None)),
        (TypeError, "a vector value takes a sequence of 3", ("Fluid", "Initial Velocity", "1 2 3", None)),
        (ValueError, "values must be finite numbers", ("Fluid", "Density", float("nan"), None)),
        (TypeError, "a new value takes a number", ("Extra", "things", [1, 2], None)),
        (ztp.Error, "Unknown value type: 'quaternion'", ("Extra", "q", "1", "quaternion")),
        (TypeError, "values are numbers or expression texts, not NoneType", ("Fluid", "Density", None, None)),
    ]
    for error, message, (section, name, value, kind) in refusals:
        with pytest.raises(error, match=message):
            body.set_value(section, name, value, type=kind)
    values = body.values
    assert values["Fluid"]["Density"] == 1000.0 and values["Fluid"]["Surface"] == "Smooth"
    assert "Extra" not in values


def test_a_failing_expression_names_its_value(tmp_path):
    body = ztp.Body("b", "Particle-Liquid")
    body.set_value("Fluid", "Density", "Particle.density")
    with pytest.raises(ztp.Error, match="Cannot evaluate 'Density' of body 'b'"):
        body.values
    assert body.expression("Fluid", "Density") == "Particle.density"
