#include "scanrules/rules.h"

#include "contract/tables.h"
#include "core/variant.h"

namespace oskara::scanrules {
namespace {

using OptionMember = contract::OptionMember;

// The joins the rules select from.
constexpr std::string_view kCustomersWithBalances =
    "tblArCust INNER JOIN tblArCustHist ON tblArCust.CustId = tblArCustHist.CustId";
constexpr std::string_view kHeadersWithBalances =
    "tblDtCallLogHeader INNER JOIN tblArCustHist ON tblDtCallLogHeader.CustID = tblArCustHist.CustId";

// Conditions shared by several rules.
constexpr OptionText kNotOnHold{"(tblArCust.CreditHold=False)"};
constexpr OptionText kHasLimit{"(tblArCust.CreditLimit>0)"};

// The ageing family: a positive ageing total (without the current amount,
// with NewFinch), money in the band's bucket, not on credit hold.
constexpr OptionText kAgeingTotalPositive{
    "(([BalAge1]+[BalAge2]+[BalAge3]+[BalAge4]-[UnapplCredit]+[NewFinch]+[UnpaidFinch])>0)"};
constexpr OptionText kAgeing120[] = {kAgeingTotalPositive, {"(tblArCustHist.BalAge4>0)"}, kNotOnHold};
constexpr OptionText kAgeing90[] = {kAgeingTotalPositive, {"(tblArCustHist.BalAge3>0)"}, kNotOnHold};
constexpr OptionText kAgeing60[] = {kAgeingTotalPositive, {"(tblArCustHist.BalAge2>0)"}, kNotOnHold};
constexpr OptionText kAgeing30[] = {kAgeingTotalPositive, {"(tblArCustHist.BalAge1>0)"}, kNotOnHold};

// The credit-limit rules: the total debt (with the current amount, without
// NewFinch) over the limit, or within Chk_NearLimit_Amt of it.
constexpr OptionText kOverLimit[] = {
    {"(([CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4]-[UnapplCredit] "
     "+[UnpaidFinch])>[CreditLimit])"},
    kHasLimit,
    kNotOnHold};
constexpr OptionText kNearLimit[] = {
    {"(([CreditLimit]-([CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4] "
     "-[UnapplCredit]+[UnpaidFinch]))<= ",
     &ScanOptions::Chk_NearLimit_Amt, " )"},
    {"(([CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4]-[UnapplCredit]+[UnpaidFinch])>0)"},
    kHasLimit,
    kNotOnHold};

// Follow-up after a conversation later than the last payment (a missing
// conversation counts as 2099 there, a missing payment as 1968) at least
// Chk_FollowUp1_x days ago (a missing conversation counts as 1968).
constexpr OptionText kFollowUp1[] = {
    {"(([CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4] "
     "-[UnapplCredit]+[UnpaidFinch])>0)"},
    {"((IIf(IIf(IsNull([LastConversationDate]), "
     "#01/1/2099#,[LastConversationDate]) "
     "> "
     "IIf(IsNull([LastPayDate]), "
     "#01/1/68#, [LastPayDate]), True, False)) = True)"},
    {"((DateDiff(\"d\", "
     "IIf(IsNull([LastConversationDate]), "
     "#01/1/68#, [LastConversationDate]), Date())) >= ",
     &ScanOptions::Chk_FollowUp1_x, ")"},
};
constexpr OptionText kFollowUp3[] = {{"tblDtCallLogHeader.ToCallBack=True"}};
constexpr OptionText kCreditHold[] = {{"(tblArCust.CreditHold=True)"}};

// What the explanation shows beside each verdict.
constexpr std::string_view kTotalDue =
    "[CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4]-[UnapplCredit]+[UnpaidFinch]";
constexpr ShownValue kAgeingShown[] = {
    {"AgeingTotal", "[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4]-[UnapplCredit]+[NewFinch]+[UnpaidFinch]"},
    {"BalAge1", "tblArCustHist.BalAge1"},
    {"BalAge2", "tblArCustHist.BalAge2"},
    {"BalAge3", "tblArCustHist.BalAge3"},
    {"BalAge4", "tblArCustHist.BalAge4"},
    {"UnapplCredit", "tblArCustHist.UnapplCredit"},
    {"NewFinch", "tblArCustHist.NewFinch"},
    {"UnpaidFinch", "tblArCustHist.UnpaidFinch"},
    {"CreditHold", "tblArCust.CreditHold"},
};
constexpr ShownValue kOverLimitShown[] = {
    {"TotalDue", kTotalDue},
    {"CreditLimit", "tblArCust.CreditLimit"},
    {"CreditHold", "tblArCust.CreditHold"},
};
constexpr ShownValue kNearLimitShown[] = {
    {"TotalDue", kTotalDue},
    {"CreditLimit", "tblArCust.CreditLimit"},
    {"Headroom", "[CreditLimit]-([CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4]-[UnapplCredit]+[UnpaidFinch])"},
    {"CreditHold", "tblArCust.CreditHold"},
};
constexpr ShownValue kFollowUp1Shown[] = {
    {"LogID", "tblDtCallLogHeader.LogID"},
    {"TotalDue", kTotalDue},
    {"LastConversationDate", "[LastConversationDate]"},
    {"LastPayDate", "[LastPayDate]"},
    {"DaysSinceConversation",
     "DateDiff(\"d\", IIf(IsNull([LastConversationDate]), #01/1/68#, [LastConversationDate]), Date())"},
};
constexpr ShownValue kFollowUp2Shown[] = {
    {"LogID", "tblDtCallLogHeader.LogID"},
    {"TotalDue", kTotalDue},
    {"LastConversationDate", "[LastConversationDate]"},
    {"LastPayDate", "[LastPayDate]"},
    {"DaysSinceConversation", "DateDiff(\"d\", [LastConversationDate], Date())"},
    {"PromisedPayDate", "tblDtCallLogHeader.PromisedPayDate"},
    {"PromisedAmt", "tblDtCallLogHeader.PromisedAmt"},
};
constexpr ShownValue kFollowUp3Shown[] = {
    {"LogID", "tblDtCallLogHeader.LogID"},
    {"ToCallBack", "tblDtCallLogHeader.ToCallBack"},
};
constexpr ShownValue kCreditHoldShown[] = {{"CreditHold", "tblArCust.CreditHold"}};

constexpr OptionMember kReadsNearLimitAmt[] = {&ScanOptions::Chk_NearLimit_Amt};
constexpr OptionMember kReadsFollowUp1Days[] = {&ScanOptions::Chk_FollowUp1_x};
constexpr OptionMember kReadsFollowUp2Days[] = {&ScanOptions::Chk_FollowUp2_x};
constexpr OptionMember kReadsPriority[] = {&ScanOptions::Chk_FollowUp3Priority};

constexpr std::string_view kFollowUpRemark = "Follow-Up since last call made more than ";

constexpr ScanRule ageingRule(std::string_view procedure, bool ScanOptions::*option,
                              int16_t transType, std::string_view remark,
                              std::span<const OptionText> conditions) {
  return {.procedure = procedure,
          .option = option,
          .transType = transType,
          .remark = {remark},
          .kind = RuleKind::Insert,
          .select = {},
          .from = kCustomersWithBalances,
          .conditions = conditions,
          .customer = "tblArCustHist.CustId",
          .shown = kAgeingShown};
}

const std::array<ScanRule, 10> kRules = {{
    {.procedure = "FollowUp3",
     .option = &ScanOptions::Chk_FollowUp3,
     .transType = 9,
     .remark = {"To call back the customer."},
     .kind = RuleKind::EachRecord,
     .select = "SELECT tblDtCallLogHeader.CustID, tblDtCallLogHeader.LogID",
     .from = "tblDtCallLogHeader",
     .conditions = kFollowUp3,
     .customer = "tblDtCallLogHeader.CustID",
     .shown = kFollowUp3Shown,
     .reads = kReadsPriority,
     .bare = true,
     // The record's own LogID is not used: the customer gets the id GetLogID finds.
     .logIdFrom = LogIdFrom::GetLogID,
     .priority = &ScanOptions::Chk_FollowUp3Priority},
    {.procedure = "FollowUp2",
     .option = &ScanOptions::Chk_FollowUp2,
     .transType = 8,
     .remark = {kFollowUpRemark, &ScanOptions::Chk_FollowUp2_x,
                " days ago and payment was promised but not yet received."},
     .kind = RuleKind::StoredQuery,
     .select = {},
     .from = kHeadersWithBalances,
     .conditions = {},
     .customer = "tblDtCallLogHeader.CustID",
     .shown = kFollowUp2Shown,
     .reads = kReadsFollowUp2Days,
     .logIdFrom = LogIdFrom::Record,
     .storedQuery = contract::kQryDtFollowUp2b,
     .parameter = &ScanOptions::Chk_FollowUp2_x},
    {.procedure = "FollowUp1",
     .option = &ScanOptions::Chk_FollowUp1,
     .transType = 7,
     .remark = {kFollowUpRemark, &ScanOptions::Chk_FollowUp1_x, " days ago and no payment was received."},
     .kind = RuleKind::EachRecord,
     .select = "SELECT DISTINCTROW tblDtCallLogHeader.CustID, tblDtCallLogHeader.LogID",
     .from = kHeadersWithBalances,
     .conditions = kFollowUp1,
     .customer = "tblDtCallLogHeader.CustID",
     .shown = kFollowUp1Shown,
     .reads = kReadsFollowUp1Days,
     .logIdFrom = LogIdFrom::Record},
    ageingRule("Exceed120Days", &ScanOptions::Chk_120Days, 5, "Account 120 days overdue.", kAgeing120),
    ageingRule("Exceed90Days", &ScanOptions::Chk_90Days, 4, "Account 90 days overdue.", kAgeing90),
    ageingRule("Exceed60Days", &ScanOptions::Chk_60Days, 3, "Account 60 days overdue.", kAgeing60),
    ageingRule("Exceed30Days", &ScanOptions::Chk_30Days, 2, "Account 30 days overdue.", kAgeing30),
    {.procedure = "OverLimit",
     .option = &ScanOptions::Chk_OverLimit,
     .transType = 1,
     .remark = {"Account Over Credit Limit."},
     .kind = RuleKind::EachRecord,
     .select = "SELECT DISTINCTROW tblArCustHist.CustId, "
               "[CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4]-[UnapplCredit] "
               "+[UnpaidFinch] AS TotalDue, tblArCust.CreditLimit",
     .from = kCustomersWithBalances,
     .conditions = kOverLimit,
     .customer = "tblArCustHist.CustId",
     .shown = kOverLimitShown},
    {.procedure = "NearLimit",
     .option = &ScanOptions::Chk_NearLimit,
     .transType = 6,
     .remark = {"Account approaching Credit Limit."},
     .kind = RuleKind::EachRecord,
     .select = "SELECT DISTINCTROW tblArCustHist.CustId,  tblArCust.CreditLimit",
     .from = kCustomersWithBalances,
     .conditions = kNearLimit,
     .customer = "tblArCustHist.CustId",
     .shown = kNearLimitShown,
     .reads = kReadsNearLimitAmt},
    {.procedure = "CreditHold",
     .option = &ScanOptions::Chk_CreditHold,
     .transType = 10,
     .remark = {"Account on Credit Hold."},
     .kind = RuleKind::EachRecord,
     .select = "SELECT DISTINCTROW tblArCust.CustId",
     .from = "tblArCust",
     .conditions = kCreditHold,
     .customer = "tblArCust.CustId",
     .shown = kCreditHoldShown},
}};

std::string joined(std::span<const OptionText> conditions, const ScanOptions& options) {
  std::string text;
  for (const OptionText& condition : conditions) {
    if (!text.empty()) text += " AND ";
    text += condition.text(options);
  }
  return text;
}

}  // namespace

std::string OptionText::text(const ScanOptions& options) const {
  std::string out(before);
  if (const auto* days = std::get_if<int16_t ScanOptions::*>(&number))
    out += numberText(int64_t{options.**days});
  else if (const auto* amount = std::get_if<double ScanOptions::*>(&number))
    out += numberText(options.**amount);
  out += after;
  return out;
}

const std::array<ScanRule, 10>& rulesInScanOrder() { return kRules; }

const ScanRule* ruleOf(int16_t transType) {
  for (const ScanRule& rule : kRules) {
    if (rule.transType == transType) return &rule;
  }
  return nullptr;
}

std::string scanStatement(const ScanRule& rule, const ScanOptions& options) {
  switch (rule.kind) {
    case RuleKind::Insert:
      // Every selected customer that has no queue row yet.
      return "INSERT INTO tblDTQueue ( CustID, TransType, Remark, EntryDate, "
             "EntryTime ) SELECT DISTINCTROW tblArCustHist.CustId, " +
             numberText(int64_t{rule.transType}) + " AS Expr1, " + quotedText(rule.remark.text(options)) +
             " AS Expr2, Date() AS Expr3, "
             "Time() AS Expr4 FROM (" + std::string(rule.from) + ") LEFT JOIN tblDTQueue ON "
             "tblArCustHist.CustId = tblDTQueue.CustID WHERE (" + joined(rule.conditions, options) +
             " AND (tblDTQueue.CustID Is Null)); ";
    case RuleKind::EachRecord:
      if (rule.bare) {
        return std::string(rule.select) + " FROM " + std::string(rule.from) + " WHERE " +
               joined(rule.conditions, options) + " ";
      }
      return std::string(rule.select) + " FROM " + std::string(rule.from) + " WHERE (" +
             joined(rule.conditions, options) + "); ";
    case RuleKind::StoredQuery: break;
  }
  return {};
}

std::string quotedText(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '"';
  // A quote inside is doubled: each run up to and with one is written, then the quote again.
  for (size_t quoteAt; (quoteAt = text.find('"')) != std::string_view::npos; text.remove_prefix(quoteAt + 1)) {
    quoted.append(text.substr(0, quoteAt + 1));
    quoted += '"';
  }
  quoted.append(text);
  quoted += '"';
  return quoted;
}

}  // namespace oskara::scanrules
