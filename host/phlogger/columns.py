"""The data file's columns: the logger's header names, the names they get
in a table, their units and, where one exists, their CF standard name.

The logger pads its names to eight characters (" SampNum", "  Vtherm");
they are looked up stripped. A name the table does not know keeps its own
text as its name and is read as a number when every value is one."""

from dataclasses import dataclass


@dataclass(frozen=True)
class Column:
    name: str                 # the table's column name
    units: str                # CF/UDUNITS units ("" for none, "1" for dimensionless)
    long_name: str
    standard_name: str = ""
    instrument: str = ""      # "ctd" or "optode": error texts go to its status column
    text: bool = False        # kept as text (part and serial numbers, instrument clock)


# The logger's own readings. The sample number and the time stamp become
# the table's "sample" column and its index.
LOGGER = {
    "VbatMain": Column("Vbat_main_V", "V", "main battery voltage"),
    "VbiasPos": Column("Vbias_pos_V", "V", "positive bias battery voltage"),
    "VbiasNeg": Column("Vbias_neg_V", "V", "negative bias battery voltage"),
    "TC_cont": Column("board_temp_C", "degree_Celsius", "controller board temperature"),
    "Humidity": Column("humidity_pct", "percent", "relative humidity in the housing"),
    "Vtherm": Column("Vtherm_V", "V", "DuraFET thermistor voltage"),
    "VthrmStd": Column("Vtherm_std_V", "V", "DuraFET thermistor voltage standard deviation"),
    "TC_Dfet": Column("temp_C", "degree_Celsius", "DuraFET temperature",
                      "sea_water_temperature"),
    "Vrsi": Column("Vrsi_V", "V", "ISFET source against internal reference"),
    "Vrsi_std": Column("Vrsi_std_V", "V", "Vrsi standard deviation"),
    "pHintEst": Column("pH_int", "1", "pH (total scale) against the internal reference",
                       "sea_water_ph_reported_on_total_scale"),
    "Vrse": Column("Vrse_V", "V", "ISFET source against external reference"),
    "Vrse_std": Column("Vrse_std_V", "V", "Vrse standard deviation"),
    "pHextEst": Column("pH_ext", "1", "pH (total scale) against the external reference",
                       "sea_water_ph_reported_on_total_scale"),
    "Vrsi_B": Column("Vrsi_B_V", "V", "biased Vrsi (pH 7 at 0 V)"),
    "VrsiBstd": Column("Vrsi_B_std_V", "V", "biased Vrsi standard deviation"),
    "Vrse_B": Column("Vrse_B_V", "V", "biased Vrse (pH 7 at 0 V)"),
    "VrseBstd": Column("Vrse_B_std_V", "V", "biased Vrse standard deviation"),
    "Vk": Column("Vk_V", "V", "counter electrode voltage"),
    "Vk_std": Column("Vk_std_V", "V", "counter electrode voltage standard deviation"),
    "Ik": Column("Ik_nA", "nA", "counter electrode current"),
    "Ib": Column("Ib_nA", "nA", "substrate current"),
}

# The Aanderaa optode's reply.
OPTODE = {
    "Opt_PN": Column("optode_pn", "", "optode product number", instrument="optode", text=True),
    "Opt_SN": Column("optode_sn", "", "optode serial number", instrument="optode", text=True),
    "Moxy": Column("optode_O2_umol_L", "umol L-1", "dissolved oxygen concentration",
                   "mole_concentration_of_dissolved_molecular_oxygen_in_sea_water",
                   instrument="optode"),
    "O2satper": Column("optode_O2_sat_pct", "percent", "oxygen saturation",
                       "fractional_saturation_of_oxygen_in_sea_water", instrument="optode"),
    "TC_opt": Column("optode_temp_C", "degree_Celsius", "optode temperature",
                     instrument="optode"),
    "Dphase": Column("optode_dphase_deg", "degree", "optode calibrated phase",
                     instrument="optode"),
    "Bphase": Column("optode_bphase_deg", "degree", "optode blue phase", instrument="optode"),
    "Rphase": Column("optode_rphase_deg", "degree", "optode red phase", instrument="optode"),
    "Bamp": Column("optode_bamp_mV", "mV", "optode blue amplitude", instrument="optode"),
    "Bpot": Column("optode_bpot_mV", "mV", "optode blue potential", instrument="optode"),
    "Ramp": Column("optode_ramp_mV", "mV", "optode red amplitude", instrument="optode"),
    "Opt_rawtemp": Column("optode_rawtemp_mV", "mV", "optode raw temperature",
                          instrument="optode"),
}

# The SBE37 MicroCAT (conductivity in S/m, its own clock as text).
SBE37 = {
    "TC_MCat": Column("ctd_temp_C", "degree_Celsius", "CTD temperature",
                      "sea_water_temperature", instrument="ctd"),
    "Cond": Column("ctd_cond_S_m", "S m-1", "CTD conductivity",
                   "sea_water_electrical_conductivity", instrument="ctd"),
    "pSal": Column("ctd_sal_psu", "1e-3", "CTD practical salinity",
                   "sea_water_practical_salinity", instrument="ctd"),
    "Pres": Column("ctd_pres_dbar", "dbar", "CTD pressure", "sea_water_pressure",
                   instrument="ctd"),
    "Date_MC": Column("ctd_date", "", "CTD clock date", instrument="ctd", text=True),
    "Time_MC": Column("ctd_time", "", "CTD clock time", instrument="ctd", text=True),
}

# The Aanderaa 5860 conductivity sensor (conductivity in mS/cm).
AAND5860 = {
    "Cond_PN": Column("ctd_pn", "", "CTD product number", instrument="ctd", text=True),
    "Cond_SN": Column("ctd_sn", "", "CTD serial number", instrument="ctd", text=True),
    "Cond": Column("ctd_cond_mS_cm", "mS cm-1", "CTD conductivity",
                   "sea_water_electrical_conductivity", instrument="ctd"),
    "Temp": Column("ctd_temp_C", "degree_Celsius", "CTD temperature",
                   "sea_water_temperature", instrument="ctd"),
    "Sal": Column("ctd_sal_psu", "1e-3", "CTD practical salinity",
                  "sea_water_practical_salinity", instrument="ctd"),
    "Density": Column("ctd_density_kg_m3", "kg m-3", "CTD density", "sea_water_density",
                      instrument="ctd"),
    "SSpeed": Column("ctd_sound_speed_m_s", "m s-1", "CTD sound speed",
                     "speed_of_sound_in_sea_water", instrument="ctd"),
}

SAMPLE = "SampNum"
TIME = "MM/DD/YYYY HH:MM:SS"
TIME_FORMAT = "%m/%d/%Y %H:%M:%S"


def lookup(names):
    """Column descriptions for a header's stripped names, in order. The
    CTD's names depend on its type, which its first name tells."""
    ctd = AAND5860 if "Cond_PN" in names else SBE37
    out = []
    for n in names:
        col = LOGGER.get(n) or OPTODE.get(n) or ctd.get(n)
        out.append(col or Column(n, "", n))
    return out
