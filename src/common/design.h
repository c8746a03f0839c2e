#pragma once
// One design record of the input deck, with the extra statements that belong to it.
#include <array>
#include <string>
#include <vector>

#include "common/control_arm.h"
#include "common/futility_rule.h"
#include "common/information_set.h"

namespace kestrel {

// What the deck attached to one run of the single-endpoint boundary design: a replacement
// spending code (when the code in force is above 5), then phi (codes 3, 4) or the K cumulative
// alpha values (code 5). Nothing is read for codes 1, 2 and 6.
struct SpendingStatement {
  int deck_code = 0;         // ESF1 or ESF2 as given in the record
  int replacement_code = 0;  // the code read from the replacement statement; 0 when none was read
  int replacement_line = 0;  // deck line of the replacement statement (0 when none)
  bool has_phi = false;
  double phi = 0.0;
  int phi_line = 0;
  std::vector<double> cumulative;  // code 5: K cumulative alpha values, the last equal to TYPE1
  int cumulative_line = 0;
  // The code the boundary design uses.
  int code_in_force() const { return deck_code > 5 ? replacement_code : deck_code; }
};

// The 26 + K values of a design record, under the names of the run parameter store.
struct DeckValues {
  int NSIM = 0, ITIME = 0, CPL = 0, CPRSK = 0, CMPST = 0, MSSG = 0;
  double HR1 = 0, HR2 = 0, RHO = 0, HR1TR = 0, HR2TR = 0, RHOTR = 0;
  double TA = 0, TF = 0, SRVR1 = 0, SRVR2 = 0, SR = 0;
  int CNSRD = 0;
  double TYPE1 = 0, RSV1 = 0, POWER = 0;
  int DF = 0, LOOK = 0, CRIVL = 0, ESF1 = 0, ESF2 = 0;
  AnalysisArray TLOOK{};  // entries beyond LOOK keep the values of the previous record
};

// A piecewise-exponential law of one endpoint: m pieces (1 to 10), piece p running from
// change[p-1] (0 for the first) to change[p] (open-ended for the last), with the control arm's
// hazard control[p] and the treatment arm's hazard control[p] * ratio[p] (treatment over control).
// Empty (no control hazards): the endpoint keeps the exponential law of the design record.
struct EndpointHazards {
  std::vector<double> change;   // m - 1 change points, 0 < c1 < ... < c(m-1)
  std::vector<double> control;  // m control hazards, above 0
  std::vector<double> ratio;    // m hazard ratios, treatment over control, above 0
  bool given() const { return !control.empty(); }
};

// Loss to follow-up, the shape of enrolment and the event-time laws of one design. Left empty it
// is the plain model: nobody is lost, subjects enter uniformly over the accrual period TA, and
// each endpoint's times are exponential with the record's survival and hazard ratio.
struct EntryAndLoss {
  // Hazard of loss to follow-up per time unit, control arm then treatment arm. A lost subject is
  // censored for both endpoints at the same moment.
  std::array<double, 2> dropout{0.0, 0.0};
  // Accrual in pieces of constant intensity: piece p runs from the end of piece p-1 (0 for the
  // first) to accrual_end[p], the last ending at TA, with relative intensity accrual_intensity[p].
  // Empty (or one piece): uniform entry over 0..TA.
  std::vector<double> accrual_end, accrual_intensity;
  bool has_dropout() const { return dropout[0] != 0.0 || dropout[1] != 0.0; }
  bool has_ramp() const { return accrual_end.size() > 1; }
  // Piecewise hazards per endpoint (EP1, EP2); an endpoint without them keeps the record's law.
  std::array<EndpointHazards, 2> hazards;
  bool has_hazards() const { return hazards[0].given() || hazards[1].given(); }
  bool plain() const { return !has_dropout() && !has_ramp() && !has_hazards(); }
};

// How the deck stated a design's loss to follow-up and accrual pieces (for the reports).
struct EntryAndLossStatements {
  bool dropout_given = false;
  int dropout_line = 0;
  bool dropout_as_probability = false;  // "lost by time t" instead of hazards
  double dropout_time = 0;              // t of the probabilities
  std::array<double, 2> dropout_value{0.0, 0.0};  // as written: hazards or probabilities
  bool accrual_given = false;
  int accrual_line = 0;
  // HAZARDS statements per endpoint: their deck lines (0 when none), and for a law given as
  // control survival at stated times, those times and survivals as written.
  std::array<int, 2> hazards_line{0, 0};
  std::array<std::vector<double>, 2> survival_time, survival_value;
};

// The optional MODEL and CONTROL statements of a design: the model it asks for, and its control
// arm's law when stated as a median, a hazard or a survival at a stated time (SRVR1 and SRVR2 of
// the design then hold the survival at the end of the study that law gives).
struct ModelAndControl {
  int model = 0;  // 0: not stated; 1: MODEL DEFAULT; 2: MODEL EXACT
  int model_line = 0;
  ControlForm control = ControlForm::EndOfStudy;
  double control_time = 0;                        // SURVIVAL: the time of the probabilities
  std::array<double, 2> control_value{0.0, 0.0};  // as written, EP1 then EP2
  int control_line = 0;
  bool exact() const { return model == 2; }
};

struct Design {
  int number = 0;      // 1-based position in the deck
  int first_line = 0;  // deck line where the record starts
  DeckValues read;     // exactly as read from the deck
  // As stored: hazard ratios replaced by their reciprocals (treatment over control).
  DeckValues stored;
  // One pair (EP1's boundary design, then EP2's) per evaluated information set, in run order:
  // ITIME = 1 evaluates the EP1-driven set then the EP2-driven set; other values one set.
  std::vector<std::array<SpendingStatement, 2>> spending;
  // Loss to follow-up and accrual pieces of this design (plain when the deck states neither).
  EntryAndLoss entry_loss;
  EntryAndLossStatements entry_loss_statements;
  ModelAndControl model_control;
  // Futility stops of this design (none unless the deck states FUTILITY).
  FutilityRule futility;
};

struct DeckHeader {
  int NHD1 = 0, NHD2 = 0;
  double XHD1 = 0, XHD2 = 0;
  std::string TITLE = std::string(80, ' ');
};

}  // namespace kestrel
