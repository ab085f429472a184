#include "demo_data.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <string_view>
#include <system_error>

#include "contract/tables.h"
#include "core/clock.h"
#include "core/error.h"
#include "dbengine/errors.h"

namespace oskara::tool {

uint64_t DemoRandom::next() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

int64_t DemoRandom::between(int64_t low, int64_t high) {
  const uint64_t span = static_cast<uint64_t>(high - low) + 1;
  return low + static_cast<int64_t>(next() % span);
}

namespace {

// What kind of account a customer is, and so which rule of a full scan
// queues it first (rules run: call-back, promise, no payment since the call,
// 120/90/60/30 days, over limit, near limit, credit hold).
enum class Profile : uint8_t {
  CallBack,            // reason 9: the last call asked for a call back
  BrokenPromise,       // reason 8: promised a payment by a date now past
  NoPaymentSinceCall,  // reason 7: called 30+ days ago, nothing paid since
  Overdue120,          // reason 5
  Overdue90,           // reason 4
  Overdue60,           // reason 3
  Overdue30,           // reason 2
  OverLimit,           // reason 1: only current balance, above the limit
  NearLimit,           // reason 6: only current balance, within 450 of the limit
  CreditHold,          // reason 10: on hold, often owing nothing
  Current,             // not queued: current balance well under the limit
  InCredit,            // not queued: unapplied credit exceeds what is owed
  CashAccount,         // not queued: no credit limit, current balance only
};
constexpr int kProfileCount = 13;

// Share of each profile per thousand customers.
constexpr std::array<int, kProfileCount> kWeights = {40, 50, 80, 50, 60, 80, 120, 40, 40, 30, 300, 60, 50};

constexpr std::array<std::string_view, 40> kNameWords = {
    "Harlow",   "Brightwater", "Ashford",  "Kestrel",   "Northgate", "Pinewood", "Redfern",  "Silverton",
    "Oakridge", "Millbrook",   "Eastlake", "Granger",   "Holloway",  "Ironside", "Juniper",  "Lakeview",
    "Marston",  "Newbury",     "Orchard",  "Penrose",   "Quarry",    "Riverside", "Stanton", "Thornbury",
    "Upland",   "Vale",        "Westfield", "Yardley",  "Beacon",    "Cobalt",   "Driftwood", "Elmstead",
    "Fairmont", "Glenwood",    "Hawthorn", "Larkspur",  "Meridian",  "Summit",   "Tidewater", "Windmill"};
constexpr std::array<std::string_view, 30> kTrades = {
    "Timber",    "Supplies",  "Hardware",   "Foods",     "Logistics", "Electrical", "Plumbing",  "Textiles",
    "Motors",    "Printing",  "Bakery",     "Pharmacy",  "Builders",  "Catering",   "Flooring",  "Glass",
    "Paints",    "Tools",     "Garden Centre", "Office Supplies", "Packaging", "Engineering", "Fabrics",
    "Farm Supplies", "Interiors", "Marine", "Optics", "Roofing", "Stationers", "Wholesale"};
constexpr std::array<std::string_view, 8> kSuffixes = {"Ltd", "Inc.", "& Sons", "Co.", "Group", "LLC", "Trading", "Partners"};
constexpr std::array<std::string_view, 40> kFirstNames = {
    "Anna",  "Ben",    "Carla", "David",  "Elena", "Frank", "Grace", "Hugo",   "Irene", "Jonas",
    "Karen", "Liam",   "Maria", "Nathan", "Olga",  "Peter", "Quinn", "Rita",   "Sam",   "Tara",
    "Uma",   "Victor", "Wendy", "Xavier", "Yara",  "Zoltan", "Alice", "Bruno", "Chloe", "Dmitri",
    "Eva",   "Felix",  "Gina",  "Henry",  "Ines",  "Jack",  "Kim",   "Lucia",  "Marco", "Nina"};
constexpr std::array<std::string_view, 40> kLastNames = {
    "Adams",   "Baker",   "Clarke",  "Dawson",  "Ellis",   "Fischer", "Garcia",  "Hughes",  "Ivanova", "Jensen",
    "Kowalski", "Lambert", "Morgan", "Novak",   "Owens",   "Patel",   "Quinlan", "Romero",  "Schmidt", "Turner",
    "Ulrich",  "Vargas",  "Walsh",   "Young",   "Zimmer",  "Bennett", "Costa",   "Duarte",  "Evans",   "Foster",
    "Gallo",   "Hale",    "Ibarra",  "Jovanovic", "Keller", "Lindqvist", "Moreau", "Nilsen", "Ortega", "Price"};
constexpr std::array<std::string_view, 6> kCollectors = {"jmorgan", "apatel", "kschmidt", "lromero", "dturner", "swalsh"};
constexpr std::array<int64_t, 10> kLimitsDollars = {1000, 2000, 2500, 5000, 7500, 10000, 15000, 20000, 25000, 50000};

// Every date is at most this many days before today.
constexpr int kMaxDaysBack = 400;

// One customer as generated; amounts in cents, dates as days before today (-1: none).
struct Customer {
  Profile profile = Profile::Current;
  bool hold = false;
  int64_t limit = 0;
  int64_t cur = 0;
  std::array<int64_t, 4> age{};  // BalAge1..BalAge4
  int64_t unappl = 0, newFinch = 0, unpaidFinch = 0;
  int lastPayAge = -1;
  int64_t lastPayAmt = 0;
};

struct CallLogEntry {
  bool callBack = false;
  int conversationAge = -1;  // -1: never spoken to
  int promiseAge = -1;       // -1: no promise
  int64_t promisedAmt = 0;
};

template <typename T, size_t N>
const T& pick(const std::array<T, N>& items, DemoRandom& rnd) {
  return items[static_cast<size_t>(rnd.between(0, N - 1))];
}

Profile drawProfile(DemoRandom& rnd) {
  int64_t roll = rnd.between(0, 999);
  for (int p = 0; p < kProfileCount; ++p) {
    if (roll < kWeights[static_cast<size_t>(p)]) return static_cast<Profile>(p);
    roll -= kWeights[static_cast<size_t>(p)];
  }
  return Profile::Current;
}

// An overdue balance whose oldest money sits in band `oldest` (0 = 30 days ..
// 3 = 120 days). Unapplied credit stays below half the oldest band, so both
// the ageing total and the total debt are positive.
void overdueBalance(Customer& c, int oldest, DemoRandom& rnd) {
  const int64_t scale = c.limit > 0 ? c.limit : 500000;
  for (int band = 0; band < oldest; ++band)
    if (rnd.chance(60)) c.age[static_cast<size_t>(band)] = rnd.between(scale * 2 / 100, scale * 30 / 100);
  c.age[static_cast<size_t>(oldest)] = rnd.between(scale * 5 / 100, scale * 40 / 100);
  if (rnd.chance(70)) c.cur = rnd.between(0, scale * 30 / 100);
  if (oldest >= 1 && rnd.chance(50)) c.newFinch = rnd.between(500, 5000);
  if (oldest >= 2 && rnd.chance(50)) c.unpaidFinch = rnd.between(500, 8000);
  if (rnd.chance(20)) c.unappl = rnd.between(0, c.age[static_cast<size_t>(oldest)] / 2);
}

void lastPayment(Customer& c, int minAge, int maxAge, DemoRandom& rnd) {
  c.lastPayAge = static_cast<int>(rnd.between(minAge, maxAge));
  c.lastPayAmt = rnd.between(2000, 400000);
}

// A call whose payment came on or after the conversation: no follow-up rule
// selects it, so the customer's balances decide its reason.
CallLogEntry paidAfterCall(Customer& c, DemoRandom& rnd) {
  CallLogEntry e;
  e.conversationAge = static_cast<int>(rnd.between(2, 180));
  lastPayment(c, 0, e.conversationAge, rnd);
  if (rnd.chance(20)) {
    e.promiseAge = static_cast<int>(rnd.between(0, e.conversationAge));
    e.promisedAmt = rnd.between(5000, 200000);
  }
  return e;
}

// Fills `c` for its profile and returns its call-log headers, newest first.
std::vector<CallLogEntry> shapeCustomer(Customer& c, DemoRandom& rnd) {
  std::vector<CallLogEntry> log;
  const auto quietHistory = [&] {  // no follow-up reason: no header, or paid since the call
    if (rnd.chance(50)) {
      log.push_back(paidAfterCall(c, rnd));
    } else if (rnd.chance(80)) {
      lastPayment(c, 1, 200, rnd);
    }
  };
  const auto olderCall = [&](int after) {  // an earlier call, before the newest one
    if (after + 10 < kMaxDaysBack - 100 && rnd.chance(25)) {
      CallLogEntry e;
      e.conversationAge = static_cast<int>(rnd.between(after + 10, after + 100));
      log.push_back(e);
    }
  };

  switch (c.profile) {
    case Profile::CallBack: {
      if (rnd.chance(60)) overdueBalance(c, static_cast<int>(rnd.between(0, 3)), rnd);
      else c.cur = rnd.between(0, c.limit / 2 + 10000);
      c.hold = rnd.chance(10);
      CallLogEntry e;
      e.callBack = true;
      e.conversationAge = static_cast<int>(rnd.between(0, 14));
      log.push_back(e);
      if (rnd.chance(70)) lastPayment(c, 1, 120, rnd);
      olderCall(e.conversationAge);
      break;
    }
    case Profile::BrokenPromise: {
      overdueBalance(c, static_cast<int>(rnd.between(0, 3)), rnd);
      c.hold = rnd.chance(5);
      CallLogEntry e;
      e.conversationAge = static_cast<int>(rnd.between(8, 29));
      e.promiseAge = static_cast<int>(rnd.between(1, e.conversationAge - 1));
      e.promisedAmt = rnd.between(5000, 300000);
      log.push_back(e);
      if (rnd.chance(50)) lastPayment(c, e.conversationAge + 5, e.conversationAge + 90, rnd);
      olderCall(e.conversationAge);
      break;
    }
    case Profile::NoPaymentSinceCall: {
      overdueBalance(c, static_cast<int>(rnd.between(0, 3)), rnd);
      c.hold = rnd.chance(5);
      CallLogEntry e;
      if (rnd.chance(85)) {
        e.conversationAge = static_cast<int>(rnd.between(30, 150));
        if (rnd.chance(80)) lastPayment(c, e.conversationAge + 1, e.conversationAge + 120, rnd);
      }  // else a header opened but the customer never reached
      log.push_back(e);
      if (e.conversationAge >= 0) olderCall(e.conversationAge);
      break;
    }
    case Profile::Overdue120:
    case Profile::Overdue90:
    case Profile::Overdue60:
    case Profile::Overdue30:
      overdueBalance(c, 3 - (static_cast<int>(c.profile) - static_cast<int>(Profile::Overdue120)), rnd);
      quietHistory();
      break;
    case Profile::OverLimit:
      c.cur = c.limit + rnd.between(100, c.limit * 40 / 100);
      if (rnd.chance(30)) c.newFinch = rnd.between(500, 3000);
      quietHistory();
      break;
    case Profile::NearLimit:
      c.cur = c.limit - rnd.between(0, 45000);  // headroom at most 450.00
      quietHistory();
      break;
    case Profile::CreditHold:
      c.hold = true;
      if (rnd.chance(50)) {
        overdueBalance(c, static_cast<int>(rnd.between(0, 3)), rnd);
        quietHistory();
      } else if (rnd.chance(70)) {
        lastPayment(c, 30, 300, rnd);  // settled, then put on hold
      }
      break;
    case Profile::Current:
      // Headroom of at least 600.00, beyond the near-limit amount.
      c.cur = rnd.between(0, std::min(c.limit * 60 / 100, c.limit - 60000));
      if (rnd.chance(10)) c.unappl = rnd.between(0, 20000);
      quietHistory();
      break;
    case Profile::InCredit:
      c.age[0] = rnd.between(5000, 50000);
      c.unappl = c.age[0] + rnd.between(1000, 30000);
      quietHistory();
      break;
    case Profile::CashAccount:
      c.limit = 0;
      c.cur = rnd.between(0, 300000);
      quietHistory();
      break;
  }
  return log;
}

// ISO dates of today and the days before it.
class DateTexts {
 public:
  explicit DateTexts(DateTime today) {
    for (int back = 0; back <= kMaxDaysBack; ++back)
      texts_.push_back(DateTime{today.serial - back}.toIso());
  }
  const std::string& daysAgo(int back) const { return texts_[static_cast<size_t>(back)]; }

 private:
  std::vector<std::string> texts_;
};

std::string customerId(int64_t index, int width) {
  std::string digits = std::to_string(index + 1);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  digits.insert(digits.begin(), 'C');
  return digits;
}

// Money in cents as the currency fields hold it.
TableWriter& money(TableWriter& writer, int64_t cents) { return writer.real(static_cast<double>(cents) / 100.0); }

std::vector<TableCount> load(NewDatabases& databases, const DemoOptions& options) {
  using contract::DatabaseKind;

  namespace ar_cust = contract::arcust;
  namespace ar_hist = contract::arcusthist;
  namespace call_log = contract::calllog;
  namespace so_header = contract::soheader;
  const auto cust = databases.writer(DatabaseKind::AR, contract::kTblArCust,
                {ar_cust::kCustId, ar_cust::kCustName, ar_cust::kCreditHold, ar_cust::kCreditLimit, ar_cust::kPhone,
                 ar_cust::kContact});
  const auto hist = databases.writer(DatabaseKind::AR, contract::kTblArCustHist,
                {ar_hist::kCustId, ar_hist::kCurAmtDue, ar_hist::kBalAge1, ar_hist::kBalAge2, ar_hist::kBalAge3,
                 ar_hist::kBalAge4, ar_hist::kUnapplCredit, ar_hist::kNewFinch, ar_hist::kUnpaidFinch,
                 ar_hist::kLastPayDate, ar_hist::kLastPayAmt});
  const auto header = databases.writer(DatabaseKind::DT, contract::kTblDtCallLogHeader,
                  {call_log::kLogID, call_log::kCustID, call_log::kToCallBack, call_log::kLastConversationDate,
                   call_log::kPromisedPayDate, call_log::kPromisedAmt, call_log::kCollector});
  const auto order = databases.writer(DatabaseKind::SO, contract::kTblSoHeader,
                 {so_header::kOrderNo, so_header::kCustId, so_header::kOrderDate, so_header::kAmount});

  const DateTexts dates(currentClock().now().datePart());
  DemoRandom rnd(options.seed);
  const int idWidth = std::max(6, static_cast<int>(std::to_string(options.customers).size()));
  // Every profile at least once (when there are enough customers), spread out.
  const int64_t stride = options.customers / kProfileCount;
  int64_t nextLogId = 1, nextOrderNo = 100001;

  for (int64_t i = 0; i < options.customers; ++i) {
    Customer c;
    c.profile = (stride > 0 && i % stride == 0 && i / stride < kProfileCount)
                    ? static_cast<Profile>(i / stride)
                    : drawProfile(rnd);
    c.limit = pick(kLimitsDollars, rnd) * 100;
    const std::vector<CallLogEntry> log = shapeCustomer(c, rnd);

    const std::string id = customerId(i, idWidth);
    const std::string name = std::string(pick(kNameWords, rnd)) + " " + std::string(pick(kTrades, rnd)) +
                             " " + std::string(pick(kSuffixes, rnd));
    const std::string contact = std::string(pick(kFirstNames, rnd)) + " " + std::string(pick(kLastNames, rnd));
    std::string phone = "(";
    phone += std::to_string(rnd.between(201, 989));
    phone += ") 555-";
    phone += std::to_string(rnd.between(10000, 19999)).substr(1);

    cust->text(id).text(name).integer(c.hold ? 1 : 0);
    money(*cust, c.limit).text(phone).text(contact).run();
    money(hist->text(id), c.cur);
    for (int64_t band : c.age) money(*hist, band);
    money(money(money(*hist, c.unappl), c.newFinch), c.unpaidFinch);
    if (c.lastPayAge >= 0) money(hist->text(dates.daysAgo(c.lastPayAge)), c.lastPayAmt);
    else hist->null().null();
    hist->run();

    for (const CallLogEntry& e : log) {
      header->integer(nextLogId++).text(id).integer(e.callBack ? 1 : 0);
      if (e.conversationAge >= 0) header->text(dates.daysAgo(e.conversationAge));
      else header->null();
      if (e.promiseAge >= 0) money(header->text(dates.daysAgo(e.promiseAge)), e.promisedAmt);
      else header->null().null();
      header->text(pick(kCollectors, rnd)).run();
    }

    const int64_t orders = c.profile == Profile::CashAccount ? rnd.between(1, 5) : rnd.between(0, 3);
    for (int64_t k = 0; k < orders; ++k) {
      order->integer(nextOrderNo++).text(id).text(dates.daysAgo(static_cast<int>(rnd.between(0, 180))));
      money(*order, rnd.between(5000, 500000)).run();
    }
  }

  for (TableWriter* writer : {cust.get(), hist.get(), header.get(), order.get()}) writer->flush();
  databases.finish();
  return {{DatabaseKind::DT, std::string(contract::kTblDTOptions), 1},
          {DatabaseKind::DT, std::string(contract::kTblDtCallLogHeader), header->rows()},
          {DatabaseKind::DT, std::string(contract::kTblDTQueue), 0},
          {DatabaseKind::AR, std::string(contract::kTblArCust), cust->rows()},
          {DatabaseKind::AR, std::string(contract::kTblArCustHist), hist->rows()},
          {DatabaseKind::SO, std::string(contract::kTblSoHeader), order->rows()}};
}

}  // namespace

DemoSummary createDemoDatabases(const contract::DatabaseLocations& locations, const DemoOptions& options) {
  if (options.customers < 1 || options.customers > 10'000'000)
    throw Error(db::errc::kInvalidArgument, "Cannot make demo data for " + std::to_string(options.customers) +
                                                " customers: the count must be between 1 and 10000000.");
  const std::unique_ptr<NewDatabases> databases = NewDatabases::create(locations, {});
  DemoSummary summary;
  summary.locations = locations;
  summary.rowCounts = load(*databases, options);
  return summary;
}

DemoSummary createDemoDatabases(const std::filesystem::path& dir, const DemoOptions& options) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec)
    throw Error(db::errc::kInvalidPath, "Cannot create the folder '" + dir.string() +
                                            "' for the database files: " + ec.message() + ".");
  const contract::DatabaseFiles files = contract::databaseFilesIn(dir);
  DemoSummary summary = createDemoDatabases({files.dt, files.ar, files.so}, options);
  summary.files = files;
  return summary;
}

}  // namespace oskara::tool
