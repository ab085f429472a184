// The names of every table, field and stored query of the three databases
// that the servers, the tool and the tests use. Names compare without regard
// to case, as the statements expect; these are the spellings the files are
// created with (schema.h).
#pragma once

#include <string_view>

namespace oskara::contract {

// DT: the system's own tables, the stored query, and links to the AR tables.
inline constexpr std::string_view kTblDTOptions = "tblDTOptions";  // fields: options.h
inline constexpr std::string_view kTblDTQueue = "tblDTQueue";
inline constexpr std::string_view kTblDtCallLogHeader = "tblDtCallLogHeader";
inline constexpr std::string_view kTblDTLogon = "tblDTLogon";
inline constexpr std::string_view kTblDtQueueProcLock = "tblDtQueueProcLock";
inline constexpr std::string_view kQryDtFollowUp2b = "qryDtFollowUp2b";
// AR.
inline constexpr std::string_view kTblArCust = "tblArCust";
inline constexpr std::string_view kTblArCustHist = "tblArCustHist";
// SO.
inline constexpr std::string_view kTblSoHeader = "tblSoHeader";

// tblDTQueue: the collection queue.
namespace queue {
inline constexpr std::string_view kQueueID = "QueueID";
inline constexpr std::string_view kCustID = "CustID";
inline constexpr std::string_view kTransType = "TransType";
inline constexpr std::string_view kRemark = "Remark";
inline constexpr std::string_view kEntryDate = "EntryDate";
inline constexpr std::string_view kEntryTime = "EntryTime";
inline constexpr std::string_view kLogID = "LogID";
}  // namespace queue

// tblDtCallLogHeader: the call-log headers.
namespace calllog {
inline constexpr std::string_view kLogID = "LogID";
inline constexpr std::string_view kCustID = "CustID";
inline constexpr std::string_view kSystemRemark = "SystemRemark";
inline constexpr std::string_view kToCallBack = "ToCallBack";
inline constexpr std::string_view kLastConversationDate = "LastConversationDate";
inline constexpr std::string_view kPromisedPayDate = "PromisedPayDate";
inline constexpr std::string_view kPromisedAmt = "PromisedAmt";
inline constexpr std::string_view kCollector = "Collector";
}  // namespace calllog

// tblArCust: customers (AR).
namespace arcust {
inline constexpr std::string_view kCustId = "CustId";
inline constexpr std::string_view kCustName = "CustName";
inline constexpr std::string_view kCreditHold = "CreditHold";
inline constexpr std::string_view kCreditLimit = "CreditLimit";
inline constexpr std::string_view kPhone = "Phone";
inline constexpr std::string_view kContact = "Contact";
}  // namespace arcust

// tblArCustHist: aged balances (AR).
namespace arcusthist {
inline constexpr std::string_view kCustId = "CustId";
inline constexpr std::string_view kCurAmtDue = "CurAmtDue";
inline constexpr std::string_view kBalAge1 = "BalAge1";
inline constexpr std::string_view kBalAge2 = "BalAge2";
inline constexpr std::string_view kBalAge3 = "BalAge3";
inline constexpr std::string_view kBalAge4 = "BalAge4";
inline constexpr std::string_view kUnapplCredit = "UnapplCredit";
inline constexpr std::string_view kNewFinch = "NewFinch";
inline constexpr std::string_view kUnpaidFinch = "UnpaidFinch";
inline constexpr std::string_view kLastPayDate = "LastPayDate";
inline constexpr std::string_view kLastPayAmt = "LastPayAmt";
}  // namespace arcusthist

// tblSoHeader: sales orders (SO).
namespace soheader {
inline constexpr std::string_view kOrderNo = "OrderNo";
inline constexpr std::string_view kCustId = "CustId";
inline constexpr std::string_view kOrderDate = "OrderDate";
inline constexpr std::string_view kAmount = "Amount";
}  // namespace soheader

}  // namespace oskara::contract
